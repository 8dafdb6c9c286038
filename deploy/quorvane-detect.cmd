@echo off
rem Detection script for deployment engines (Intune Remediations, Configuration Manager).
rem Exit code 0: nothing stale and every profile read; 1: stale user data found, so the
rem remediation should run; 2: a usage error; 3: a profile could not be read.
rem Extra arguments go to the scan, for example --settings or --current-user.
setlocal
"%~dp0quorvane-cli.exe" scan %*
exit /b %ERRORLEVEL%
