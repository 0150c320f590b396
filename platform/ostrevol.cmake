# The registry stand-in and the loading of classes by class id. Both are
# compiled into libOstrevol.so; the programs use the class loading too.
pkg_check_modules(GIO IMPORTED_TARGET gio-2.0)

add_library(tintarel_registry STATIC
  Registry.h Registry_linux.cpp
  Registry_wallpaper.h Registry_wallpaper_linux.cpp)
target_include_directories(tintarel_registry PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tintarel_registry PUBLIC Qt6::Core)
if(GIO_FOUND)
  target_compile_definitions(tintarel_registry PUBLIC TINTAREL_REGISTRY_READS_GSETTINGS)
  target_link_libraries(tintarel_registry PRIVATE PkgConfig::GIO)
else()
  message(STATUS "gio-2.0 not found: the GNOME wallpaper cannot be read")
endif()

# The binary contract shared by the programs and libOstrevol.so.
add_library(ostrevol_interface INTERFACE)
target_include_directories(ostrevol_interface INTERFACE
  ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/startup/include)

add_library(tintarel_classfactory STATIC
  InProcessServer.h ClassFactory.h ClassFactory_linux.cpp)
target_include_directories(tintarel_classfactory PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tintarel_classfactory PUBLIC Qt6::Core ${CMAKE_DL_LIBS})
