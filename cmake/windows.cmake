# The Windows build (cross-compiled with cmake/mingw-w64.cmake; scripts/windows drives it).
# Included from the top CMakeLists.txt when WIN32 is set.

# Units that only Linux can build. A unit with a Windows twin (foo_win.cpp beside foo.cpp) is
# swapped automatically and is not listed here; these have none, because Windows does the same
# through another unit (the driver's and the named pipe's back ends replace libusb, udev and the
# Unix socket) or does without (VXI-11 needs a portmapper, the LAN announcement Avahi).
set(QZ_LINUX_ONLY
  src/platform/linux_usb_enumerator.cpp
  src/platform/linux_usb_transport.cpp
  src/platform/device_change_monitor.cpp
  src/platform/virtual_device_folder.cpp
  src/platform/virtual_device_transport.cpp
  src/platform/virtual_device_enumerator.cpp
  src/remote/vxi11_protocol.cpp
  src/remote/vxi11_registration.cpp
  src/remote/vxi11_server.cpp
  src/remote/onc_rpc.cpp
  src/remote/discovery_poll.cpp
  src/remote/discovery_publisher.cpp
  # Their headers too: moc would otherwise build the Q_OBJECT classes' tables without them.
  src/platform/linux_usb_enumerator.h
  src/platform/linux_usb_transport.h
  src/platform/device_change_monitor.h
  src/platform/virtual_device_transport.h
  src/platform/virtual_device_enumerator.h
  src/remote/vxi11_protocol.h
  src/remote/vxi11_registration.h
  src/remote/vxi11_server.h
  src/remote/onc_rpc.h
  src/remote/discovery_poll.h
  src/remote/discovery_publisher.h
  # Tests of Linux-only behaviour: Unix sockets, groups and permission bits, the Unix-socket
  # simulator, process signals and the Linux state rules (Windows has tests of its own for the
  # pipe, the state place and the session's end).
  tests/remote/vxi11_server_test.cpp
  tests/persist/form_state_test.cpp
  tests/persist/ini_file_test.cpp
  tests/persist/drive_type_test.cpp
  tests/platform/virtual_device_sim_test.cpp
  tests/platform/device_record_test.cpp
  tests/platform/single_instance_test.cpp
  tests/rxview/rx_export_test.cpp
  tests/remote/vxi11_server_test.cpp
  tests/e2e/damaged_files_e2e_test.cpp
  tests/e2e/exit_signals_e2e_test.cpp
  tests/e2e/link_e2e_test.cpp
  tests/e2e/scene_request_e2e_test.cpp
  tests/package/state_location_test.cpp
  tests/shell/single_copy_test.cpp
  tests/shell/state_file_test.cpp
  tests/tools/command_line_test.cpp)

enable_language(RC)

# QCustomPlot is a DLL from scripts/windows-toolchain without a CMake package. Its users must
# define QCUSTOMPLOT_USE_LIBRARY: without it the program links and runs, but the chart's signals
# (beforeReplot, afterReplot) never fire.
find_package(Qt6 REQUIRED COMPONENTS Widgets PrintSupport)
find_path(QZ_QCUSTOMPLOT_INCLUDE qcustomplot.h REQUIRED)
find_library(QZ_QCUSTOMPLOT_LIBRARY NAMES qcustomplot REQUIRED)
add_library(QCustomPlotQt6::QCustomPlotQt6 UNKNOWN IMPORTED)
set_target_properties(QCustomPlotQt6::QCustomPlotQt6 PROPERTIES
  IMPORTED_LOCATION "${QZ_QCUSTOMPLOT_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${QZ_QCUSTOMPLOT_INCLUDE}"
  INTERFACE_COMPILE_DEFINITIONS QCUSTOMPLOT_USE_LIBRARY
  INTERFACE_LINK_LIBRARIES "Qt6::Widgets;Qt6::PrintSupport")

# The system libraries of the platform layer. setupapi.dll is not linked: the driver's back end
# loads it by name. The virtual devices' folder is found through the shell's known folders; the
# events window's handle needs Qt's widgets.
set(QZ_WIN_SYSTEM_LIBS Qt6::Widgets shell32 ole32 advapi32 user32)

# No Google Benchmark for MinGW: the benchmarks are Linux-only.
set(QZ_BENCHMARKS OFF CACHE BOOL "Build the benchmarks" FORCE)

# Static C and C++ run-time libraries would make the test programs independent of the MinGW
# DLLs, but Qt's DLLs need libstdc++-6.dll anyway: scripts/windows ships them beside the programs.

# Each program gets the manifest (asInvoker, Windows 10) and version resource.
set(QZ_WIN_RC ${CMAKE_SOURCE_DIR}/packaging/windows/qz418.rc)
if(EXISTS ${QZ_WIN_RC})
  string(REPLACE "." "," rc_version "${PROJECT_VERSION}.0.0")
  # windres hands the definitions to the preprocessor through a shell, which takes one level of
  # quotes off: the text's quotes come escaped.
  set_property(SOURCE ${QZ_WIN_RC} APPEND PROPERTY COMPILE_DEFINITIONS
    QZ418_VERSION_RC=${rc_version} "QZ418_VERSION_TEXT=\\\"${PROJECT_VERSION}\\\"")
  # windres looks for the manifest the script names in its include folders.
  set_property(SOURCE ${QZ_WIN_RC} APPEND PROPERTY INCLUDE_DIRECTORIES ${CMAKE_SOURCE_DIR}/packaging/windows)
endif()
function(qz_windows_resources target)
  if(EXISTS ${QZ_WIN_RC})
    target_sources(${target} PRIVATE ${QZ_WIN_RC})
  endif()
endfunction()

# The tests run under wine through tests/windows/wine-run (CTest's emulator): a private wine
# prefix, the toolchain's DLLs on WINEPATH, a private Xvfb unless DISPLAY is given, and a time
# limit, since a program that shows a box under wine waits for ever.
get_filename_component(QZ_WIN_PREFIX_DIR "${QZ_QCUSTOMPLOT_INCLUDE}" DIRECTORY)
set(QZ_WINE_RUN ${CMAKE_SOURCE_DIR}/tests/windows/wine-run)

# What the installer ships (cmake --install into a staging folder; scripts/windows): the three
# programs, the DLLs they load and Qt's plugins in the folders Qt looks for beside the program.
function(qz_windows_install)
  install(TARGETS qz418 qz418-codes RUNTIME DESTINATION .)
  if(TARGET qz418-sim)
    install(TARGETS qz418-sim RUNTIME DESTINATION .)
  endif()
  set(bin ${QZ_WIN_PREFIX_DIR}/bin)
  file(GLOB dlls ${bin}/*.dll)
  list(FILTER dlls INCLUDE REGEX
    "/(Qt6(Core|Gui|Widgets|Network|PrintSupport)|(lib)?qcustomplot|libstdc\\+\\+-6|libgcc_s_seh-1|libwinpthread-1)\\.dll$")
  install(FILES ${dlls} DESTINATION .)
  foreach(plugin platforms/qwindows styles/qwindowsvistastyle)
    if(EXISTS ${QZ_WIN_PREFIX_DIR}/plugins/${plugin}.dll)
      get_filename_component(dir ${plugin} DIRECTORY)
      install(FILES ${QZ_WIN_PREFIX_DIR}/plugins/${plugin}.dll DESTINATION ${dir})
    endif()
  endforeach()
endfunction()

# Test cases that need native windows: the session's end, the simulator's broadcasts and the
# events window's messages. They run on the windows platform (wine's Xvfb), not offscreen.
set(QZ_WINE_NATIVE_platform WindowsVirtualSim.*)
set(QZ_WINE_NATIVE_shell WindowsSessionEnd.*)
set(QZ_WINE_NATIVE_usb WinChangeMonitor.*:DriverBackend.*)
# Under wine the offscreen platform finds none of the system's fonts and wine's substitutes are
# wider than the captions' room: the checks of caption fit and elided texts run on Linux only.
set(QZ_WINE_SKIP_widgets MessageForm.TextSetWhileHiddenIsShownNextTime)
set(QZ_WINE_SKIP_panel Panel.FrequencyCaptionsAndTheCalibrationNoticeFitTheirPlaces)
# Linux-only cases inside portable test files: the Russian C locale made with localedef.
set(QZ_WINE_SKIP_remote PanelInstrumentTest.EveryNodeOnBothChannelsSetsAndAnswersInShortAndLongForm)
# Windows' 15.6 ms timer tick: a wait of 123 ms may end 0.5 ms early by the steady clock.
set(QZ_WINE_SKIP_usb IssueRequest.PassesTheRequestThroughAndReturnsTheTransportsCode)
