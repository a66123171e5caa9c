// The window's behaviour found by using it: in-place rewrites analysed again,
// a stored rate of 0, the busy cursor and refused starts, the report and the
// folder on screen, Qt's texts, and names that are not UTF-8.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include "app/folder_dialog.h"
#include "app/form1.h"
#include "app/translation.h"
#include "scripted_dialogs.h"
#include "wav/error.h"
#include "wav_builder.h"

using namespace velmora;
using namespace velmora::app;
using namespace velmora::test;

namespace {

WavBuilder Tone(std::uint16_t channels, std::size_t frames, std::uint32_t rate = 1000) {
    WavBuilder b;
    b.channels = channels;
    b.samplesPerSec = rate;
    b.samples = PatternSamples(frames, channels, 2);
    return b;
}

class WindowMends : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<TForm1>(dialogs);
        form->show();
        QApplication::processEvents();
    }
    void Drop(const std::string& path) {
        form->PageControl1->setCurrentIndex(0);
        form->FormDropFiles(std::vector<std::string>{path});
    }

    TempDir dir;
    ScriptedDialogs dialogs;
    std::unique_ptr<TForm1> form;
};

TEST_F(WindowMends, AStoredRateOfZeroOffersOnlyTheRateRewriteAndThenAnalysesCompletely) {
    std::string path = dir.write("zero.wav", Tone(2, 1500, 0).Build());
    Drop(path);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, kTextDivByZero);
    EXPECT_TRUE(form->Button10->isEnabled() && form->ComboBox1->isEnabled());
    const std::vector<QWidget*> others{form->Button3,  form->surround, form->Button7, form->Button8,
                                       form->Button11, form->Button13, form->Button14};
    for (QWidget* off : others) EXPECT_FALSE(off->isEnabled()) << off->objectName().toStdString();

    form->ComboBox1->setCurrentText("1000");
    form->Button10->click();
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(form->waveInfo().totalSeconds(), 1);
    EXPECT_EQ(form->waveInfo().playRemainderFrames, 500);
    EXPECT_TRUE(form->Button3->isEnabled());
    EXPECT_FALSE(form->Memo1->toPlainText().isEmpty());
}

TEST_F(WindowMends, AnOperationShowsTheBusyCursorAndARefusedStartBeeps) {
    std::string path = dir.write("long.wav", Tone(2, 5000).Build());
    Drop(path);
    std::optional<Qt::CursorShape> during;
    // Runs at the split's first pump of messages, as a user's click would.
    QTimer::singleShot(0, form.get(), [&] {
        if (QApplication::overrideCursor()) during = QApplication::overrideCursor()->shape();
        form->Button7->click();
        form->FormDropFiles(std::vector<std::string>{path});
    });
    form->Button3->click();
    EXPECT_EQ(during, std::optional<Qt::CursorShape>(Qt::WaitCursor));
    EXPECT_EQ(dialogs.beeps, 2);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(dialogs.questions.empty());  // the normalize never started
}

TEST_F(WindowMends, TheWholeReportShowsAndALongFolderIsElidedInTheMiddle) {
    // The extensible report's longest form: its mask and speaker lines too.
    WavBuilder six = Tone(6, 100);
    six.Extensible(16, 0x3F);
    Drop(dir.write("six.wav", six.Build()));
    ASSERT_TRUE(form->Memo1->toPlainText().contains("S-Right/"));
    EXPECT_EQ(form->Memo1->verticalScrollBar()->maximum(), 0);

    const std::string folder = "/" + std::string(60, 'a') + "/" + std::string(60, 'b') + "/end/";
    form->setOutputFolder(folder);
    EXPECT_EQ(form->outputFolder(), folder);
    const QString shown = form->Label4->text();
    EXPECT_TRUE(shown.startsWith("/aaa") && shown.endsWith("/end/") && shown.contains(QChar(0x2026)))
        << shown.toStdString();
    EXPECT_EQ(form->Label4->toolTip(), QString::fromStdString(folder));
}

TEST_F(WindowMends, ANameThatIsNotUtf8OpensFromADrop) {
    const std::string name = "take\xff\xfe.wav";
    std::string path = dir.write(name, Tone(2, 1200).Build());
    const QUrl url = QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/"));
    ASSERT_EQ(LocalFiles({url}), std::vector<std::string>{path});
    form->FormDropFiles(LocalFiles({url}));
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(form->Button3->isEnabled());
    form->Button3->click();
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages.at(0).text.toStdString();
    EXPECT_TRUE(std::filesystem::exists(dir.file("take\xff\xfe(Left)(0).wav")));
}

TEST(WindowTexts, QtsOwnTextsAreJapanese) {
    ASSERT_TRUE(InstallQtJapanese(*QCoreApplication::instance()));
    EXPECT_NE(QCoreApplication::translate("QLineEdit", "&Undo"), "&Undo");
    EXPECT_NE(QCoreApplication::translate("QFileDialog", "Open"), "Open");
}

TEST(FolderBrowseDialogView, ThePreselectedFolderIsScrolledIntoView) {
    TempDir dir;
    for (int i = 0; i < 80; ++i) {
        // Appended rather than "d" + ...: GCC 12 warns falsely (-Wrestrict) on that insert.
        std::string name = "d";
        name += std::to_string(100 + i);
        std::filesystem::create_directory(dir.file(name));
    }
    const std::string target = dir.file("d175");
    FolderBrowseDialog dialog(nullptr, "t", QString::fromStdString(target), [](QWidget*, const QString&) {});
    dialog.show();
    QTreeView* tree = dialog.tree();
    QElapsedTimer waited;
    waited.start();
    // The folders are read in the background; wait until the target's siblings are there.
    while (waited.elapsed() < 10000 && tree->model()->rowCount(tree->currentIndex().parent()) < 80)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    QApplication::processEvents();
    ASSERT_EQ(dialog.currentFolder(), QString::fromStdString(target));
    EXPECT_TRUE(tree->viewport()->rect().contains(tree->visualRect(tree->currentIndex())));
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Velmora");
    return RUN_ALL_TESTS();
}
