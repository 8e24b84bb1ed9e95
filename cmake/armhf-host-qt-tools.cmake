# Qt's code generators for the board build are the host's (qtbase5-dev-tools): the board
# root's are ARM programs. Defined before Qt's package files, which then keep them.
foreach(tool moc uic rcc)
  if(NOT TARGET Qt5::${tool})
    find_program(KEL_HOST_QT_${tool} ${tool} PATHS /usr/lib/qt5/bin NO_DEFAULT_PATH)
    if(NOT KEL_HOST_QT_${tool})
      message(FATAL_ERROR "the host's Qt ${tool} is missing (qtbase5-dev-tools; bash scripts/setup installs it)")
    endif()
    add_executable(Qt5::${tool} IMPORTED GLOBAL)
    set_target_properties(Qt5::${tool} PROPERTIES IMPORTED_LOCATION "${KEL_HOST_QT_${tool}}")
  endif()
endforeach()
