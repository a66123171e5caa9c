#include "io/error.h"

namespace velmora {

std::string TextCannotOpen(const std::string& path) { return "ファイル " + path + " は開けません"; }
std::string TextNotRegularFile(const std::string& path) {
    return "ファイル " + path + " は通常のファイルではありません";
}
std::string TextCannotCreate(const std::string& path) { return "ファイル " + path + " を作成できません"; }
std::string TextCannotWrite(const std::string& path) { return "ファイル " + path + " に書き込めません"; }
std::string TextCannotRead(const std::string& path) { return "ファイル " + path + " を最後まで読めませんでした"; }
std::string TextSourceChanged(const std::string& path) {
    return "ファイル " + path + " は解析の後で変更されています。ファイルを選び直してください。";
}
std::string TextOutputIsInput(const std::string& path) { return "出力ファイル " + path + " が入力ファイルと同じです"; }
std::string TextFileBusy(const std::string& path) {
    return "ファイル " + path + " は他のプログラムが書き込み中です。書き込みが終わってからやり直してください。";
}
std::string TextOutputClash(const std::string& path) {
    return "出力ファイル " + path + " を他の処理が同時に書き込んだため中止しました";
}
std::string TextFolderLocked(const std::string& folder) {
    return "出力フォルダ " + folder + " は他の処理が使用中のため、出力ファイルを作成できませんでした";
}

}  // namespace velmora
