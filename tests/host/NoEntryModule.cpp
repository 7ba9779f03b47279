// A loadable module that exports neither VSTPluginMain nor main.
#if defined(_WIN32)
extern "C" __declspec(dllexport) int kelvatoneNotAnEntry() {
    return 0;
}
#else
extern "C" __attribute__((visibility("default"))) int kelvatoneNotAnEntry() {
    return 0;
}
#endif
