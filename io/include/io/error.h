// The one error type of the core. Its text is the failure text the user sees
// (each front end shows it to the user in its own way).
#pragma once

#include <stdexcept>
#include <string>

namespace velmora {

class VelmoraError : public std::runtime_error {
public:
    explicit VelmoraError(const std::string& text, int systemError = 0)
        : std::runtime_error(text), systemError_(systemError) {}
    // The errno of the system call that failed, so a front end can add the
    // system's reason; 0 when the failure is the file's own, not the system's.
    int systemError() const noexcept { return systemError_; }

private:
    int systemError_ = 0;
};

// Failure texts of files, shared by every operation.
std::string TextCannotOpen(const std::string& path);  // ファイル %s は開けません
// A FIFO, socket or device given as a file: refused before it is opened.
std::string TextNotRegularFile(const std::string& path);  // ファイル %s は通常のファイルではありません
std::string TextCannotCreate(const std::string& path);    // ファイル %s を作成できません
std::string TextCannotWrite(const std::string& path);     // ファイル %s に書き込めません
std::string TextCannotRead(const std::string& path);      // ファイル %s を最後まで読めませんでした
// The source is no longer the file the analysis read (replaced, shortened,
// grown or rewritten where a patch would go).
std::string TextSourceChanged(const std::string& path);  // ファイル %s は解析の後で変更されています…
// An output name that is one of the inputs (the same file by any name).
std::string TextOutputIsInput(const std::string& path);  // 出力ファイル %s が入力ファイルと同じです
// Another program holds the file or is still writing it.
std::string TextFileBusy(const std::string& path);  // ファイル %s は他のプログラムが書き込み中です…
// Another run wrote one of our output names while we were writing them.
std::string TextOutputClash(const std::string& path);  // 出力ファイル %s を他の処理が同時に書き込みました…
// Another process held the output folder's lock past the time limit.
std::string TextFolderLocked(const std::string& folder);  // 出力フォルダ %s は他の処理が使用中のため…

}  // namespace velmora
