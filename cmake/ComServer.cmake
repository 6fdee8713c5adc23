# Hanamail.dll: the core library, the automation object and the COM server,
# with the type library written by widl from the IDL and carried as a
# resource, the registration script, the version block and the exports of
# Hanamail.def (the four entry points, then the flat functions by ordinal).
set(HANAMAIL_SERVER_DIR ${CMAKE_SOURCE_DIR}/src/component/server)

find_program(HANAMAIL_WIDL NAMES x86_64-w64-mingw32-widl widl REQUIRED)
# MinGW ships no .idl files; Wine's development headers have oaidl.idl and
# ocidl.idl, and Wine itself the stdole2.tlb that the library imports.
find_path(HANAMAIL_WINE_IDL_DIR oaidl.idl PATHS /usr/include/wine/wine/windows /usr/include/wine/windows
          NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(HANAMAIL_STDOLE_DIR stdole2.tlb
          PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows /usr/lib64/wine/x86_64-windows
          NO_CMAKE_FIND_ROOT_PATH REQUIRED)

set(HANAMAIL_TLB ${CMAKE_BINARY_DIR}/Hanamail.tlb)
add_custom_command(OUTPUT ${HANAMAIL_TLB}
  COMMAND ${HANAMAIL_WIDL} --win64 -I${HANAMAIL_WINE_IDL_DIR} -L${HANAMAIL_STDOLE_DIR} -t -o ${HANAMAIL_TLB}
          ${HANAMAIL_SERVER_DIR}/Hanamail.idl
  DEPENDS ${HANAMAIL_SERVER_DIR}/Hanamail.idl
  COMMENT "Type library Hanamail.tlb"
  VERBATIM)
add_custom_target(hanamail_typelib DEPENDS ${HANAMAIL_TLB})

file(GLOB HANAMAIL_SERVER_SOURCES CONFIGURE_DEPENDS ${HANAMAIL_SERVER_DIR}/*.cpp)
add_library(hanamail_dll SHARED ${HANAMAIL_OBJECTS} ${HANAMAIL_SERVER_SOURCES}
            ${HANAMAIL_SERVER_DIR}/Hanamail.rc ${HANAMAIL_SERVER_DIR}/Hanamail.def)
add_dependencies(hanamail_dll hanamail_typelib)
target_link_libraries(hanamail_dll PRIVATE hanamail_headers ZLIB::ZLIB ${HANAMAIL_PLATFORM_LIBS})
# The resource compiler finds the .tlb in the build tree and the script beside the .rc.
target_include_directories(hanamail_dll PRIVATE ${CMAKE_BINARY_DIR} ${HANAMAIL_SERVER_DIR})
set_source_files_properties(${HANAMAIL_SERVER_DIR}/Hanamail.rc PROPERTIES
  OBJECT_DEPENDS "${HANAMAIL_TLB};${HANAMAIL_SERVER_DIR}/Hanamail.rgs")
set_target_properties(hanamail_dll PROPERTIES OUTPUT_NAME Hanamail PREFIX "" IMPORT_PREFIX "" IMPORT_SUFFIX ".lib")
# No lib prefix, no MinGW runtime DLL: only system DLLs are imported.
target_link_options(hanamail_dll PRIVATE -Wl,--enable-stdcall-fixup -Wl,--kill-at)
