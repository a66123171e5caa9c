#include "wav/error.h"

namespace velmora {

std::string TextCannotOpen(const std::string& path) { return "ファイル " + path + " は開けません"; }
std::string TextCannotCreate(const std::string& path) { return "ファイル " + path + " を作成できません"; }
std::string TextCannotWrite(const std::string& path) { return "ファイル " + path + " に書き込めません"; }
std::string TextCannotRead(const std::string& path) { return "ファイル " + path + " を最後まで読めませんでした"; }
std::string TextNotInteger(const std::string& text) { return "'" + text + "' は整数ではありません"; }

}  // namespace velmora
