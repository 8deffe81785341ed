// Which running programs hold files the installer is about to replace, found
// before anything changes, so that the person can close them first.
#pragma once

#include <string>
#include <vector>

#include "runtime/value/value.h"

namespace installer {

// The programs holding any of `files` (full paths), as names to show
// ("App.exe"); empty when none is held. Asks the Restart Manager where
// Windows has it; a file it does not name is tried with an open that no
// running program's file allows.
std::vector<rt::Text> programs_holding(const std::vector<std::u16string>& files);

// "请先关闭“A.exe”、“B.exe”后点击重新安装。"
rt::Text close_programs_message(const std::vector<rt::Text>& programs);

}  // namespace installer
