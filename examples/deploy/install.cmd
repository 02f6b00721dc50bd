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
rem folder OUP_LOG_DIR, which is %ProgramData%\oupdate\logs unless set and
rem is created when missing.
rem The updater's exit status is passed through unchanged:
rem   0     every file that was due is installed
rem   3010  installed; a file in use is replaced when Windows restarts
rem   1     some files could not be updated (the log names them)
rem   2     no package, an unreadable package, or the log cannot be written
rem   3     no installation of the program was found
rem   1618  another update is running on this machine; nothing was changed.
rem         Intune and Configuration Manager try again by themselves.
setlocal
set "UPDATE=ledger-update.exe"
if not defined OUP_LOG_DIR set "OUP_LOG_DIR=%ProgramData%\oupdate\logs"
if not exist "%OUP_LOG_DIR%\" mkdir "%OUP_LOG_DIR%"
rem start /wait waits for the (windowless) program and keeps its status.
start "" /wait "%~dp0%UPDATE%" /S "/LOG=%OUP_LOG_DIR%\%UPDATE%.log" "/REPORT=%OUP_LOG_DIR%\%UPDATE%.json" %*
exit /b %ERRORLEVEL%
