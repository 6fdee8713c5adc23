# Install rules: the libraries, the tool, the public headers with the internal
# headers they include, a pkg-config file and a CMake package. Both the
# pkg-config file and the CMake package find the files relative to their own
# place, so an installed tree works wherever it is put or moved.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The public headers still include headers from src/ (component/ClsEmail.h,
# foundation/..., platform/...). Install exactly the ones they reach, found by
# following the quoted includes, under include/hanamail/ with their paths kept:
# include/hanamail is on the installed include path, so every include resolves
# as it does in the source tree.
function(hanamail_header_closure out)
  set(pending ${ARGN})
  set(found)
  while(pending)
    list(POP_FRONT pending header)
    if(header IN_LIST found)
      continue()
    endif()
    list(APPEND found ${header})
    get_filename_component(here ${header} DIRECTORY)
    file(STRINGS ${header} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" name "${line}")
      set(target)
      foreach(base ${here} ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
        if(EXISTS ${base}/${name})
          get_filename_component(target ${base}/${name} ABSOLUTE)
          break()
        endif()
      endforeach()
      if(NOT target)
        message(FATAL_ERROR "${header} includes \"${name}\", which is neither beside it nor under src/ or include/")
      endif()
      list(APPEND pending ${target})
    endforeach()
  endwhile()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

file(GLOB HANAMAIL_PUBLIC_HEADERS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/include/hanamail/*.h)
hanamail_header_closure(HANAMAIL_INSTALLED_HEADERS ${HANAMAIL_PUBLIC_HEADERS})
# A header that gains an include changes the set: configure again then.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${HANAMAIL_INSTALLED_HEADERS})
foreach(header ${HANAMAIL_INSTALLED_HEADERS})
  file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${header})
  if(rel MATCHES "^src/(.+)$")
    set(rel hanamail/${CMAKE_MATCH_1})
  elseif(rel MATCHES "^include/(.+)$")
    set(rel ${CMAKE_MATCH_1})
  endif()
  get_filename_component(subdir ${rel} DIRECTORY)
  install(FILES ${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${subdir})
endforeach()

install(TARGETS hanamail_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(HANAMAIL_INSTALL_INCLUDES ${CMAKE_INSTALL_INCLUDEDIR} ${CMAKE_INSTALL_INCLUDEDIR}/hanamail)
install(TARGETS hanamail_core EXPORT HanamailStaticTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${HANAMAIL_INSTALL_INCLUDES})

# The shared library, its pkg-config file and the CMake package are for Linux;
# the Windows build installs the static library, the headers and the tool.
if(NOT TARGET hanamail)
  return()
endif()

install(TARGETS hanamail EXPORT HanamailTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${HANAMAIL_INSTALL_INCLUDES})

set(HANAMAIL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Hanamail)
install(EXPORT HanamailTargets NAMESPACE Hanamail:: DESTINATION ${HANAMAIL_CMAKE_DIR})
install(EXPORT HanamailStaticTargets NAMESPACE Hanamail:: DESTINATION ${HANAMAIL_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/HanamailConfig.cmake.in
  ${PROJECT_BINARY_DIR}/HanamailConfig.cmake
  INSTALL_DESTINATION ${HANAMAIL_CMAKE_DIR})
# The soname carries the major version, so a package of the same major version serves.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/HanamailConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/HanamailConfig.cmake ${PROJECT_BINARY_DIR}/HanamailConfigVersion.cmake
  DESTINATION ${HANAMAIL_CMAKE_DIR})

# pkg-config: the prefix is found from the .pc file's own folder.
set(HANAMAIL_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE ${HANAMAIL_PC_DIR})
  set(HANAMAIL_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
else()
  file(RELATIVE_PATH up /prefix/${HANAMAIL_PC_DIR} /prefix)
  string(REGEX REPLACE "/$" "" up "${up}")
  set(HANAMAIL_PC_PREFIX "\${pcfiledir}/${up}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE ${CMAKE_INSTALL_${dir}})
    set(HANAMAIL_PC_${dir} ${CMAKE_INSTALL_${dir}})
  else()
    set(HANAMAIL_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/hanamail.pc.in ${PROJECT_BINARY_DIR}/hanamail.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/hanamail.pc DESTINATION ${HANAMAIL_PC_DIR})
