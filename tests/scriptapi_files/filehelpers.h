// Script-visible helpers for the file tests (t_write, t_read, t_exists, ...),
// so that a case is one script body with its expected results.
#pragma once

#include "utility/qvrscriptengine/qvrlua.h"

namespace filetest {

// Registers t_write(path, text), t_read(path) -> text | nil, t_exists(path),
// t_isdir(path), t_mkdir(path), t_readonly(path) -> attribute set,
// t_lock(path) (held open without sharing until t_unlock()), t_unlock(),
// t_chdir(path), t_cwd(). Paths are UTF-8 script strings.
void RegisterHelpers(lua_State* L);
// Closes every handle t_lock opened.
void UnlockAll();

}  // namespace filetest
