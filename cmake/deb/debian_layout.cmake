# SPDX-License-Identifier: Apache-2.0
# Run by CPack on the staging tree before it makes the packages: gives each
# package its /usr/share/doc/<package>/copyright and changelog.Debian.gz,
# compresses the manual pages and strips the binaries as Debian's own
# packaging tools do. Plain `cmake --install` is left without these.
foreach(component ${CPACK_COMPONENTS_ALL})
  string(TOUPPER ${component} var)
  set(package ${CPACK_DEBIAN_${var}_PACKAGE_NAME})
  set(root ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${component}${CPACK_PACKAGING_INSTALL_PREFIX})
  if(NOT IS_DIRECTORY ${root})
    message(FATAL_ERROR "no staging tree for ${component} at ${root}")
  endif()
  set(doc ${root}/share/doc/${package})
  file(MAKE_DIRECTORY ${doc})
  file(COPY_FILE ${CPACK_TARVENKEL_DEB_COPYRIGHT} ${doc}/copyright)
  file(COPY_FILE ${CPACK_TARVENKEL_DEB_CHANGELOG} ${doc}/changelog.Debian)
  file(GLOB_RECURSE pages LIST_DIRECTORIES false ${root}/share/man/*)
  foreach(file ${doc}/changelog.Debian ${pages})
    if(file MATCHES "\\.gz$")
      continue()
    endif()
    if(IS_SYMLINK ${file})
      # A page that is a link to another page links to the compressed one.
      file(READ_SYMLINK ${file} target)
      file(REMOVE ${file})
      file(CREATE_LINK ${target}.gz ${file}.gz SYMBOLIC)
    else()
      # -n: no name or time stamp in the header, so the package is reproducible.
      execute_process(COMMAND gzip -9nf ${file} COMMAND_ERROR_IS_FATAL ANY)
    endif()
  endforeach()

  # Programs and shared libraries lose their symbol tables, archives only
  # their debugging information (their symbols are what a link needs); all
  # lose the compiler's .comment and .note sections.
  set(sections --remove-section=.comment --remove-section=.note)
  file(GLOB programs LIST_DIRECTORIES false ${root}/bin/*)
  file(GLOB_RECURSE libraries LIST_DIRECTORIES false ${root}/lib/*.so.*)
  file(GLOB_RECURSE archives LIST_DIRECTORIES false ${root}/lib/*.a)
  foreach(file ${programs} ${libraries} ${archives})
    if(IS_SYMLINK ${file})
      continue()
    elseif(file MATCHES "\\.a$")
      set(how --strip-debug --enable-deterministic-archives)
    elseif(file MATCHES "\\.so\\.")
      set(how --strip-unneeded)
    else()
      set(how --strip-all)
    endif()
    execute_process(COMMAND strip ${how} ${sections} ${file} COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
endforeach()
