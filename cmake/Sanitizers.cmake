# KELVATONE_SANITIZE=address builds everything with AddressSanitizer, LeakSanitizer
# and UndefinedBehaviorSanitizer; =thread with ThreadSanitizer.
if(KELVATONE_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(KELVATONE_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT KELVATONE_SANITIZE STREQUAL "")
  message(FATAL_ERROR "KELVATONE_SANITIZE must be empty, address or thread")
endif()
# Sanitizer builds also check that nothing that must stay off the audio thread runs there
# (debug builds check it anyway).
if(NOT KELVATONE_SANITIZE STREQUAL "")
  add_compile_definitions(KELVATONE_THREAD_CHECKS=1)
endif()
