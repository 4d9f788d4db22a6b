#include "output/paths.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "output/finish_core.h"

TEST(SplitPath, DriveFoldersNameExtension) {
  PathParts p = SplitPath("C:\\画像\\表示.jpg");  // 表 ends in the byte of "\"
  ASSERT_TRUE(p.valid);
  EXPECT_EQ(p.drive, "C:");
  EXPECT_EQ(p.folders, "\\画像\\");
  EXPECT_EQ(p.name, "表示");
  EXPECT_EQ(p.extension, ".jpg");

  p = SplitPath("D:\\x.y\\z");
  EXPECT_EQ(p.folders, "\\x.y\\");
  EXPECT_EQ(p.name, "z");
  EXPECT_EQ(p.extension, "");

  p = SplitPath("C:\\ソ");  // no folder below the root, name only
  EXPECT_EQ(p.folders, "\\");
  EXPECT_EQ(p.name, "ソ");

  // A network path splits at its last backslash too, so it never becomes a bare extension.
  p = SplitPath("\\\\server\\share\\a.jpg");
  ASSERT_TRUE(p.valid);
  EXPECT_EQ(p.drive, "");
  EXPECT_EQ(p.folders, "\\\\server\\share\\");
  EXPECT_EQ(p.name, "a");
  EXPECT_EQ(ReplaceExtension("\\\\server\\share\\a.jpg", ".png"), "\\\\server\\share\\a.png");
  EXPECT_FALSE(SplitPath("clpbd.bmp").valid);
  EXPECT_FALSE(SplitPath("C:").valid);
  EXPECT_EQ(SplitPath("clpbd.bmp").extension, "");
}

TEST(GetField, FieldsAndTheirResults) {
  std::string out;
  EXPECT_TRUE(GetField("a,b", ',', 0, out));
  EXPECT_EQ(out, "a");
  EXPECT_TRUE(GetField("a,b", ',', 1, out));
  EXPECT_EQ(out, "b");
  EXPECT_FALSE(GetField("a,b", ',', 2, out));
  EXPECT_EQ(out, "");
  EXPECT_TRUE(GetField("a,,b", ',', 1, out));  // an empty field in the middle
  EXPECT_EQ(out, "");
  EXPECT_FALSE(GetField("a,", ',', 1, out));  // the empty last field
  EXPECT_FALSE(GetField("", ',', 0, out));
}

TEST(FilterBlock, AsTheSaveDialogWantsIt) {
  const std::string jpg = FilterBlockFor("JPG(*.jpg)");
  EXPECT_EQ(jpg, std::string("JPG(*.jpg)\0*.jpg\0すべてのファイル(*)\0*\0\0", 40));
  EXPECT_EQ(jpg.size(), 40u);
  EXPECT_EQ(FilterBlockFor("3種類"), std::string("3種類\0\0すべてのファイル(*)\0*\0\0", 30));
  EXPECT_EQ(FilterBlockFor("").size(), 23u);
  EXPECT_EQ(FilterBlockFor("A(x,B(y)"), std::string("A(x\0x\0B(y)\0y\0すべてのファイル(*)\0*\0\0", 36));
}

TEST(ReplyPaths, SinglePathListAndCancel) {
  const std::string single = std::string("C:\\out\\shot.png") + '\0';
  ReplyPaths r = ParseReplyPaths(single.data(), single.size());
  EXPECT_EQ(r.folder, "C:\\out\\");
  ASSERT_EQ(r.names.size(), 1u);
  EXPECT_EQ(r.names[0], "shot.png");

  const std::string noExt = std::string("C:\\out\\shot") + '\0';
  EXPECT_EQ(ParseReplyPaths(noExt.data(), noExt.size()).names[0], "shot");

  const std::string list("C:\\out\0a.jpg\0b.jpg\0\0", 20);
  r = ParseReplyPaths(list.data(), list.size());
  EXPECT_EQ(r.folder, "C:\\out\\");
  ASSERT_EQ(r.names.size(), 2u);
  EXPECT_EQ(r.names[1], "b.jpg");

  r = ParseReplyPaths("", 0);  // cancel
  EXPECT_EQ(r.folder, "\\");
  EXPECT_TRUE(r.names.empty());

  // A list longer than its table stops at the table, and an unterminated reply at its end.
  std::string many = "C:\\out";
  for (int i = 0; i < 150; ++i) many += std::string(1, '\0') + "n" + std::to_string(i) + ".png";
  EXPECT_EQ(ParseReplyPaths(many.data(), many.size()).names.size(), 100u);
}

TEST(PathHelpers, ExtensionAndFolder) {
  EXPECT_EQ(SaveRequestFolder("C:\\a\\"), "C:\\a");  // sent with cbData 6: its 4 bytes, its zero and one more
  EXPECT_EQ(SaveRequestFolder("C:\\a"), "C:\\a");
  EXPECT_EQ(SaveRequestFolder("C:\\"), "C:");
  EXPECT_EQ(SaveRequestFolder("C:\\ソ"), "C:\\ソ");  // its second byte is 0x5C: the character stays whole
  EXPECT_EQ(SaveRequestFolder("C:\\表\\能\\"), "C:\\表\\能");
  EXPECT_EQ(ReplaceExtension("C:\\x\\a.png", ".bmp"), "C:\\x\\a.bmp");
  EXPECT_EQ(ReplaceExtension("C:\\x\\a", ".jpg"), "C:\\x\\a.jpg");
  EXPECT_EQ(ReplaceExtension("C:\\表\\a.b.png", ".jpg"), "C:\\表\\a.b.jpg");
  EXPECT_EQ(FolderOfPath("C:\\a\\b.jpg"), "C:\\a\\");
  EXPECT_EQ(FolderOfPath("C:\\b.jpg"), "C:\\");
  EXPECT_EQ(FolderOfPath("\\\\server\\b.jpg"), "\\\\server\\");
  EXPECT_EQ(FolderOfPath("clpbd.bmp"), "");
}

TEST(NextFreeName, NumbersWithoutOverwriting) {
  std::set<std::string> taken;
  auto exists = [&](const std::string& p) { return taken.count(p) != 0; };
  const struct {
    const char* path;
    const char* next;
  } cases[] = {{"shot.jpg", "shot001.jpg"}, {"shot007.jpg", "shot008.jpg"}, {"shot99.jpg", "shot100.jpg"},
               {"2024.jpg", "233.jpg"},     {"shot255.jpg", "shot000.jpg"}, {".jpg", "001.jpg"}};
  for (const auto& c : cases) {
    taken = {c.path};
    std::string path = c.path;
    ASSERT_TRUE(NextFreeName(path, exists));
    EXPECT_EQ(path, c.next) << c.path;
  }
  // A free name stays; taken numbers are passed over.
  taken = {"a.bmp", "a001.bmp", "a002.bmp"};
  std::string path = "b.bmp";
  EXPECT_TRUE(NextFreeName(path, exists));
  EXPECT_EQ(path, "b.bmp");
  path = "a.bmp";
  EXPECT_TRUE(NextFreeName(path, exists));
  EXPECT_EQ(path, "a003.bmp");
  // All 256 numbers taken: no name, and the path is left as it was.
  taken = {"full.png"};
  for (int i = 0; i < 256; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "full%03d.png", i);
    taken.insert(name);
  }
  path = "full.png";
  EXPECT_FALSE(NextFreeName(path, exists));
  EXPECT_EQ(path, "full.png");
  // A device's name is never free, even where the system says no such file exists: the image
  // would go into the device.
  taken.clear();
  for (const auto& c : {std::pair<const char*, const char*>{"NUL.bmp", "NUL001.bmp"}, {"C:\\d\\aux", "C:\\d\\aux001"},
                        {"C:\\表\\Con .jpg", "C:\\表\\Con 001.jpg"}, {"com1.png", "com002.png"},
                        {"NULL.bmp", "NULL.bmp"}, {"com0.png", "com0.png"},
                        {"nul\\a.bmp", "nul\\a.bmp"}}) {
    path = c.first;
    ASSERT_TRUE(NextFreeName(path, exists));
    EXPECT_EQ(path, c.second) << c.first;
  }
  // The number goes after the first ".", so no number makes this one free.
  path = "LPT9.x.bmp";
  EXPECT_FALSE(NextFreeName(path, exists));
}

TEST(ImageFileName, EndingsInAnyCase) {
  for (const char* yes : {"a.jpg", "a.PNG", "x.jpG", "xjpg", "a.gif", "a.bmp", "a.tiff", "C:\\a\\b.Bmp"})
    EXPECT_TRUE(IsImageFileName(yes, false)) << yes;
  for (const char* no : {"jpg", "a.jpeg", "a.avi", "a.tif", "", "a.txt"}) EXPECT_FALSE(IsImageFileName(no, false)) << no;
  EXPECT_TRUE(IsImageFileName("clip.avi", true));
}

TEST(NameHistory, CaseInsensitiveAndTwentyAtMost) {
  std::vector<std::string> history;
  EXPECT_TRUE(RememberName(history, "Shot"));
  EXPECT_FALSE(RememberName(history, "shot"));
  EXPECT_FALSE(RememberName(history, "SHOT"));
  EXPECT_TRUE(RememberName(history, "表"));
  // Only single-byte letters fold: ア (83 41) and ヂ (83 61) differ in a second byte alone.
  EXPECT_TRUE(RememberName(history, "画像ア"));
  EXPECT_TRUE(RememberName(history, "画像ヂ"));
  EXPECT_FALSE(RememberName(history, "画像ア"));
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(RememberName(history, "n" + std::to_string(i)));
  ASSERT_EQ(history.size(), 20u);
  EXPECT_TRUE(RememberName(history, "the 21st"));
  ASSERT_EQ(history.size(), 20u);
  EXPECT_EQ(history.front(), "表");  // the oldest went
  EXPECT_EQ(history.back(), "the 21st");
  EXPECT_TRUE(RememberName(history, "shot"));  // forgotten, so new again
}

TEST(ForbiddenNames, WhatWindowsRefusesAndWhatItTakes) {
  for (const char* bad : {"12:30", "a?b", "a*b", "a/b", "a\\b", "a\"b", "a<b", "a>b", "a|b", "tab\there"})
    EXPECT_NE(ForbiddenInName(bad), "") << bad;
  EXPECT_EQ(ForbiddenInName("12:30"), "「:」");
  EXPECT_EQ(ForbiddenInName("a\x01"), "（見えない制御文字）");
  // Shift-JIS names whose second bytes are 0x5C (表, ソ) or 0x7C (ポ), half-width kana, device
  // names (numbered, not refused) and an empty name.
  for (const char* good : {"表", "ソフト表", "ポイント", "ﾃｽﾄ", "NUL", "AUX.bmp", "", "a b.c", "縦長 (2)", "del\x7f"})
    EXPECT_EQ(ForbiddenInName(good), "") << good;
  // A lead byte takes the byte after it only when that may follow it ("|" is 0x7C, as in ポ);
  // before any other, or at the end, it stands alone and the byte after it is read as itself.
  EXPECT_EQ(ForbiddenInName(std::string("a\x95") + "|"), "");
  EXPECT_EQ(ForbiddenInName(std::string("a|\x95")), "「|」");
  EXPECT_EQ(ForbiddenInName("\x95:30"), "「:」");
  EXPECT_EQ(ForbiddenInName("\x95\x01"), "（見えない制御文字）");
  EXPECT_EQ(ForbiddenInPath("C:\\a\\\x95:30.bmp"), "「:」");

  EXPECT_EQ(ForbiddenInPath("C:\\Users\\表\\ポ.jpg"), "");
  EXPECT_EQ(ForbiddenInPath("\\\\server\\share\\a.png"), "");
  EXPECT_EQ(ForbiddenInPath("C:\\Users\\12:30.bmp"), "「:」");
  EXPECT_EQ(ForbiddenInPath("C:\\a?\\b.bmp"), "「?」");
}

TEST(FinishSteps, EveryRouteAndFailure) {
  FinishFacts f;
  f.desktopFolder = "C:\\Users\\me\\Desktop";
  f.name = "shot";
  const auto step = [&] { return NextFinishStep(f); };
  // Clipboard: the name plays no part, but a name too long for the history still stops it.
  f.formatKey = 'B';
  EXPECT_EQ(step().act, FinishAct::CopyToClipboard);
  f.name = "a:b";
  EXPECT_EQ(step().act, FinishAct::CopyToClipboard);
  f.name = std::string(kLongestName + 1, 'x');
  EXPECT_EQ(step().act, FinishAct::Keep);
  f.name = "shot";
  // No format chosen keeps the image.
  f.formatKey = 'x';
  EXPECT_EQ(step().act, FinishAct::Keep);
  // The desktop.
  f.formatKey = 'j';
  f.desktopChecked = true;
  EXPECT_EQ(step().act, FinishAct::WriteFiles);
  EXPECT_EQ(step().text, "C:\\Users\\me\\Desktop\\shot");
  for (const char* bad : {"12:30", "a?b"}) {
    f.name = bad;
    EXPECT_EQ(step().act, FinishAct::Keep) << bad;
    EXPECT_NE(step().text.find(ForbiddenInName(bad)), std::string::npos) << step().text;
  }
  f.name = "ポ表";
  EXPECT_EQ(step().act, FinishAct::WriteFiles);
  f.desktopFolder = "C:\\" + std::string(kLongestPath, 'd');
  EXPECT_EQ(step().act, FinishAct::Keep);
  // The dialog: asked first, also for a name it would refuse as its first choice.
  f.desktopChecked = false;
  f.name = "a|b";
  EXPECT_EQ(step().act, FinishAct::Keep);
  f.name = "shot";
  for (int key : {'j', 'p', 'b', '3'}) {
    f.formatKey = key;
    EXPECT_EQ(step().act, FinishAct::AskLocation);
  }
  f.asked = true;
  f.answer = SaveAnswer::Cancelled;
  EXPECT_EQ(step().act, FinishAct::KeepQuietly);
  for (SaveAnswer a : {SaveAnswer::NoConverter, SaveAnswer::NoReply}) {
    f.answer = a;
    EXPECT_EQ(step().act, FinishAct::SaveFallback);
    EXPECT_NE(step().text.find("Kelvo.exe"), std::string::npos);
  }
  f.answer = SaveAnswer::Chosen;
  f.chosenPath = "D:\\pics\\shot.png";
  EXPECT_EQ(step().act, FinishAct::WriteFiles);
  EXPECT_EQ(step().text, f.chosenPath);
  f.chosenPath = "D:\\pi:cs\\shot.png";
  EXPECT_EQ(step().act, FinishAct::Keep);
  EXPECT_NE(KeptImageMessage("x").find("画像はまだTallSnapにあります。"), std::string::npos);
}
