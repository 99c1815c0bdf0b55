# The main window's key hook and its platform adapters (included by this folder's
# CMakeLists.txt). Xlib is linked where it is found, to read the lock keys at activation.
set(_keyhook_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(quorvik_keyhook STATIC ${_keyhook_dir}/key_hook.cpp)
target_include_directories(quorvik_keyhook PUBLIC ${_keyhook_dir})
target_link_libraries(quorvik_keyhook PUBLIC quorvik_keyboard Qt6::Widgets)
target_sources(quorvik_keyhook PRIVATE ${_keyhook_dir}/key_adapter_xkb.cpp)
find_package(X11)
if(X11_FOUND)
  target_sources(quorvik_keyhook PRIVATE ${_keyhook_dir}/key_locks_x11.cpp)
  target_compile_definitions(quorvik_keyhook PRIVATE QUORVIK_HAVE_X11)
  target_link_libraries(quorvik_keyhook PRIVATE X11::X11)
endif()
