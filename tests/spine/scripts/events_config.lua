-- Configuration chunk of the spine tests: every setting can be changed from
-- the environment so that one installer serves every case.
global_app_id = tonumber(os.getenv("QVR_TEST_APP_ID") or "123")
global_install_mutex_guid = os.getenv("QVR_TEST_MUTEX") or ""
global_enable_ss_install = os.getenv("QVR_TEST_ENABLE_SS") == "1"
global_install_path = os.getenv("QVR_TEST_INSTALL_PATH") or "C:\\QvrDemo\\Contoso Translator"
