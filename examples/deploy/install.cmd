@echo off
rem install.cmd: runs a self-contained oupdate update without a window, for
rem deployment tools (Intune, Configuration Manager, a Group Policy startup
rem script, Ansible). See docs/deploying.md.
rem
rem   install.cmd [more options for the updater, e.g. /DIR=\\server\share]
rem
rem The update is the program named in UPDATE below, beside this script.
rem Its log is appended to a file named after it (ledger-update.exe.log), and
rem its report (ledger-update.exe.json, see docs/report.md) replaced, in the
rem folder OUP_LOG_DIR, which is %ProgramData%\oupdate\logs unless set.
rem A local log folder (and %ProgramData%\oupdate for the default one) is
rem made for SYSTEM and the Administrators only; one that is already there
rem and owned by anyone else is refused (status 2), since a user who owns it
rem could put a link in place of the log. A folder on a share (\\server\...)
rem is the share's business and is used as it is.
rem The updater's exit status is passed through unchanged:
rem   0     every file that was due is installed
rem   3010  installed; a file in use is replaced when Windows restarts
rem   1     some files could not be updated (the log names them)
rem   2     no package, an unreadable package, or the log cannot be written
rem         (or its folder is refused)
rem   3     no installation of the program was found
rem   1618  another update is running on this machine; nothing was changed.
rem         Intune and Configuration Manager try again by themselves.
setlocal
set "UPDATE=ledger-update.exe"
rem (Status checks are "if errorlevel", not "||": Wine's cmd, which the
rem project's tests run this under, takes "||" wrongly.)
if not defined OUP_LOG_DIR (
    call :admin_only "%ProgramData%\oupdate"
    if errorlevel 1 exit /b 2
    set "OUP_LOG_DIR=%ProgramData%\oupdate\logs"
)
if not "%OUP_LOG_DIR:~0,2%"=="\\" (
    call :admin_only "%OUP_LOG_DIR%"
    if errorlevel 1 exit /b 2
) else if not exist "%OUP_LOG_DIR%\" (
    mkdir "%OUP_LOG_DIR%"
)
rem start /wait waits for the (windowless) program and keeps its status.
start "" /wait "%~dp0%UPDATE%" /S "/LOG=%OUP_LOG_DIR%\%UPDATE%.log" "/REPORT=%OUP_LOG_DIR%\%UPDATE%.json" %*
exit /b %ERRORLEVEL%

rem :admin_only FOLDER: makes FOLDER for SYSTEM (S-1-5-18) and the
rem Administrators (S-1-5-32-544) alone, nothing inherited; a FOLDER that is
rem there already must be owned by one of them, and is given those rights.
rem Status 1 when it is refused or cannot be made so.
:admin_only
set "OUP_FOLDER=%~1"
if exist "%OUP_FOLDER%\" goto :owned
mkdir "%OUP_FOLDER%"
if errorlevel 1 exit /b 1
goto :restrict
:owned
rem PowerShell gives the owner as a SID, the same in every language.
set "OUP_OWNER="
for /f "usebackq delims=" %%o in (`powershell -NoProfile -NonInteractive -Command "(Get-Acl -LiteralPath $env:OUP_FOLDER).GetOwner([Security.Principal.SecurityIdentifier]).Value" 2^>nul`) do set "OUP_OWNER=%%o"
if "%OUP_OWNER%"=="S-1-5-18" goto :restrict
if "%OUP_OWNER%"=="S-1-5-32-544" goto :restrict
echo install.cmd: "%OUP_FOLDER%" is owned by "%OUP_OWNER%", not by SYSTEM or the Administrators: refused. Remove it, or set OUP_LOG_DIR to another folder. 1>&2
exit /b 1
:restrict
icacls "%OUP_FOLDER%" /setowner *S-1-5-32-544 >nul
if errorlevel 1 exit /b 1
icacls "%OUP_FOLDER%" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F >nul
if errorlevel 1 exit /b 1
exit /b 0
