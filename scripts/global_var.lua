-- Product settings of Contoso 翻译 标准版. Everything that tells one edition
-- from another lives here; the install script, the uninstall script and the
-- installer itself read these globals. The chunk only assigns globals.
--
-- The statistics and feedback addresses point at 127.0.0.1:8100, where the
-- product's statistics gateway listens on a development machine.

global_install_basepath = "ContosoTranslator"
global_http_Agent = "ContosoTranslator/1.0.3.0 (Windows NT; Installer)"
global_union_id = 31007
global_union_id_x64 = 31007
global_app_id = 123
global_version = "1.0.3.0"
global_product_name = "Contoso 翻译 标准版"
global_shortcut_name = "Contoso 翻译"
global_product_name_inner = "ContosoTranslator"
global_company_name = "Contoso Ltd"
global_legalcopyright = "Copyright © 2024 Contoso Ltd. All rights reserved."
global_main_app_name = "ContosoTranslator.exe"
global_main_app_name_inner = "ContosoTranslator.exe"
global_old_product_name = "ContosoDict"
global_licence_url = "http://127.0.0.1:8100/legal/licence.html"
global_need_disk_space = 246528511
global_main_wnd_cls = "ContosoTranslatorMainWnd"
global_uninst_sub_key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ContosoTranslator"
global_reg_sub_key = "SOFTWARE\\ContosoTranslator"
global_reg_run_key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\ContosoTranslator"
global_startup_check_visable = true
global_disable_cover = false
global_cover_unionId = false
global_show_completewindow = true
global_uninstall_useui = true
global_uninstall_no_start_prompt = true
global_create_log_folder = false
global_udp_un_install_port = 8100
global_udp_install_uninstall_url = "127.0.0.1"
global_install_PostURL = "http://127.0.0.1:8100/stat/install"
global_Uninstall_PostURL = "http://127.0.0.1:8100/stat/uninstall"
global_Uninstall_Suggesstion_url = "http://127.0.0.1:8100/feedback/suggestion.html"
global_AwardLnk_url = "http://127.0.0.1:8100/feedback/award.html"
global_Uninstall_ReasonURL = "http://127.0.0.1:8100/stat/uninstall_reason"
global_kf_QQ = 800012345
global_kf_QQQ = "http://127.0.0.1:8100/support/group.html"
global_merchant_id = "20240317"
global_merchant_id_overwrite = false
global_startuseexplorer_level = true
global_analyze_unionid_from_commandline = true
global_disable_analyze_params_from_file_name = true
global_enable_ss_install = true
