@echo off
rem Remediation script for deployment engines (Intune Remediations, Configuration Manager, a
rem Group Policy computer start-up script): removes every stale registration found.
rem Exit code 0: everything selected removed; 2: a usage error; 3: a profile could not be read
rem or an action failed or was refused (see the audit log in %ProgramData%\Quorvane).
rem Extra arguments narrow the selection, for example --user NAME or --registration KEYNAME.
setlocal
"%~dp0quorvane-cli.exe" clean --yes %*
exit /b %ERRORLEVEL%
