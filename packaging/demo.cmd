@echo off
rem Runs the visualiser on the simulated board's demo. The simulated board is
rem kept in a folder of its own, where Windows does not find it by itself: a
rem board's own driver always comes first, and the simulated one only here.
set "PATH=%~dp0simulated-board;%PATH%"
if not defined NORVABOARD_SCENARIO set "NORVABOARD_SCENARIO=demo"
start "" "%~dp0visualview.exe" %*
