@echo off
rem Detection script for deployment engines (a Group Policy start-up script, a task, by hand).
rem Exit code 0: nothing stale and every profile read; 1: stale user data found, so the
rem remediation should run; 2: a usage error or unusable settings; 3: nothing stale found but a
rem profile could not be read; 4: an internal error; 5: another run holds the machine.
rem Extra arguments go to the scan, for example --settings or --current-user; a relative path in
rem them is taken from this script's folder, whatever the current directory.
setlocal
pushd "%~dp0"
"%~dp0quorvane-cli.exe" scan %*
set code=%ERRORLEVEL%
popd
exit /b %code%
