# The Windows installer (CPack's NSIS generator): the programs in one folder
# with the libraries and Qt plugins they load, a Start-menu entry for the
# window, the command line's folder on the PATH only when asked, and an
# uninstaller. scripts/windows.sh builds it (cpack -G NSIS).
set(win_prefix ${BEAMPORT_WIN_PREFIX})

foreach(program beamport beamport-cli)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION bin)
  endif()
endforeach()

# The libraries from the cross-built prefix and the compiler's runtime.
set(win_libs Qt6Core Qt6Gui Qt6Sql sqlite3 libsodium-23 libpq)
if(BEAMPORT_GUI)
  list(APPEND win_libs Qt6Widgets)
endif()
foreach(lib ${win_libs})
  install(FILES ${win_prefix}/bin/${lib}.dll DESTINATION bin)
endforeach()
foreach(lib libstdc++-6 libgcc_s_seh-1 libwinpthread-1)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${lib}.dll
                  OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${found}")
    set(found /usr/x86_64-w64-mingw32/lib/${lib}.dll)
  endif()
  install(FILES ${found} DESTINATION bin)
endforeach()

# The plugins Qt loads from the programs' folder: the platform (offscreen for
# the command line's certificates), the native style, the SQL drivers.
foreach(plugin platforms/qwindows platforms/qoffscreen styles/qwindowsvistastyle sqldrivers/qsqlite
               sqldrivers/qsqlpsql)
  if(EXISTS ${win_prefix}/plugins/${plugin}.dll)
    get_filename_component(folder ${plugin} DIRECTORY)
    install(FILES ${win_prefix}/plugins/${plugin}.dll DESTINATION bin/${folder})
  endif()
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/debian/copyright DESTINATION . RENAME copyright.txt)

set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME Beamport)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Corvane)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service tool for portable single-gas detectors")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Beamport)
set(CPACK_PACKAGE_FILE_NAME Beamport-${PROJECT_VERSION}-win64)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DISPLAY_NAME Beamport)
set(CPACK_NSIS_PACKAGE_NAME Beamport)
# The installer asks whether the command line goes on the PATH (off unless chosen).
set(CPACK_NSIS_MODIFY_PATH ON)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# A 64-bit installer: it runs where the programs run, Wine's 64-bit loader
# included, and writes the 64-bit registry and Program Files.
# The uninstaller also takes the maker's key away once it holds nothing else
# (the backslash written for CPack's own configuration file, which reads it again).
set(CPACK_NSIS_DEFINES "Target amd64-unicode
Function un.onUninstSuccess
  DeleteRegKey /ifempty SHCTX 'Software\\\\${CPACK_PACKAGE_VENDOR}'
FunctionEnd")
if(BEAMPORT_GUI)
  set(CPACK_PACKAGE_EXECUTABLES beamport Beamport)
  set(CPACK_NSIS_INSTALLED_ICON_NAME beamport.exe)
endif()
include(CPack)
