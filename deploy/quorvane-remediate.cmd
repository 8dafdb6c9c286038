@echo off
rem Remediation script for deployment engines (a Group Policy computer start-up script, a task):
rem removes every stale registration found.
rem Exit code 0: everything selected removed, or nothing to do; 2: a usage error or unusable
rem settings; 3: a profile could not be read or an action failed or was refused (see the audit log
rem in %ProgramData%\Quorvane); 4: an internal error; 5: another run holds the machine.
rem Extra arguments narrow the selection, for example --user NAME or --registration KEYNAME; a
rem relative path in them (--settings) is taken from this script's folder, whatever the current
rem directory.
setlocal
pushd "%~dp0"
"%~dp0quorvane-cli.exe" clean --yes %*
set code=%ERRORLEVEL%
popd
exit /b %code%
