-- Benchmark uninstall chunk: carried like the product's, not run by the benchmark.
function QVRSE_OnUninstall()
  Lua_DelFileRecursive(global_install_path)
  Lua_RegDel("HKCU", "Software\\ContosoBench")
end
