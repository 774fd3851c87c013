# Tests of the Windows build that run the built programs under wine (included from the top
# CMakeLists.txt on Windows; CTest runs them with the unit tests).

qz_windows_install()

# qz418.exe against qz418-sim.exe: packets, scene requests, the exit's files (cp1251, CR LF),
# compared with the Linux build's session when QZ_LINUX_BUILD_DIR names a built Linux tree.
set(QZ_LINUX_BUILD_DIR "" CACHE PATH "A Linux build folder whose qz418 and qz418-sim the Windows end-to-end test compares with")
find_program(QZ_HOST_PYTHON NAMES python3)
if(QZ_HOST_PYTHON)
  add_test(NAME windows.EndToEnd
           COMMAND ${QZ_HOST_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/e2e_wine.py ${CMAKE_BINARY_DIR} ${QZ_LINUX_BUILD_DIR})
  set_tests_properties(windows.EndToEnd PROPERTIES TIMEOUT 600 LABELS wine RUN_SERIAL ON)
endif()

# The installer scripts/windows made: silent install, Start-menu entry, a start of the installed
# program, silent uninstall that leaves the user's state files. Skipped (77) without one.
add_test(NAME windows.Installer
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/installer_test ${CMAKE_BINARY_DIR}/qz418-${PROJECT_VERSION}-setup.exe)
set_tests_properties(windows.Installer PROPERTIES TIMEOUT 600 LABELS wine SKIP_RETURN_CODE 77 RUN_SERIAL ON)
