@echo chain first: %CD%>>"%SETUP_TEST_LOG%"
@"%SETUP_TEST_SECOND%\setup.exe" -s
@if exist "%CD%\SETUP.EXE" echo chain first still complete>>"%SETUP_TEST_LOG%"
