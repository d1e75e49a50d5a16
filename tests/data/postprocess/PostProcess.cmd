@echo postprocess: %CD%>>"%SETUP_TEST_LOG%"
