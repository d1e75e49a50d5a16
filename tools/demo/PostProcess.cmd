@echo off
rem Runs after SETUP.EXE, in the working directory: leaves a marker saying so.
echo PostProcess.cmd ran after SETUP.EXE in %CD%> "C:\Program Files\Sample App\postprocess.txt"
