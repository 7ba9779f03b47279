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
