-- Benchmark configuration: the target folder comes from the environment so
-- that every run installs into a fresh folder.
global_app_id = 0
global_install_mutex_guid = "Local\\ContosoBenchSetup"
global_enable_ss_install = true
global_ss_install = true
global_install_path = os.getenv("QVR_BENCH_TARGET") or "C:\\ContosoBench"
