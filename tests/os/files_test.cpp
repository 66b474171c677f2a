#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "os/files.h"
#include "os/os_test_support.h"

namespace qm::os {
namespace {

std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> names;
    auto entries = list_folder(folder);
    EXPECT_TRUE(entries.has_value()) << (entries ? "" : entries.error().message);
    if (entries) {
        for (const FolderEntry& entry : *entries) names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FilesWriteReplace, CreatesThenReplacesAndLeavesNoTemporaryFile) {
    test::ScratchFolder scratch;
    const std::string target = scratch / "settings.json";

    ASSERT_TRUE(write_file_replace(target, "{\"first\":1}").has_value());
    EXPECT_EQ(read_file(target).value_or("<failed>"), "{\"first\":1}");

    ASSERT_TRUE(write_file_replace(target, "second, shorter").has_value());
    EXPECT_EQ(read_file(target).value_or("<failed>"), "second, shorter");

    ASSERT_TRUE(write_file_replace(target, "").has_value());
    EXPECT_EQ(read_file(target).value_or("<failed>"), "");
    EXPECT_EQ(path_kind(target), PathKind::file);

    EXPECT_EQ(names_in(scratch.path()), std::vector<std::string>{"settings.json"});
}

TEST(FilesWriteReplace, MissingFolderFailsNamingThePath) {
    test::ScratchFolder scratch;
    const std::string target = os::join_path(scratch / "missing", "settings.json");
    auto written = write_file_replace(target, "data");
    ASSERT_FALSE(written.has_value());
    EXPECT_NE(written.error().message.find(target), std::string::npos) << written.error().message;
    EXPECT_TRUE(written.error().message.starts_with("Could not write ")) << written.error().message;
    EXPECT_EQ(path_kind(scratch / "missing"), PathKind::missing);
}

TEST(FilesWriteReplace, FailedReplaceKeepsTheTargetAndRemovesTheTemporaryFile) {
    // The final rename cannot put a file in place of a folder, so the failure
    // comes after the temporary file was written in full.
    test::ScratchFolder scratch;
    const std::string target = scratch / "occupied";
    ASSERT_TRUE(create_folder(target).has_value());
    ASSERT_TRUE(write_file_replace(os::join_path(target, "inside.txt"), "kept").has_value());

    auto written = write_file_replace(target, "new content");
    ASSERT_FALSE(written.has_value());
    EXPECT_NE(written.error().message.find(target), std::string::npos) << written.error().message;
    EXPECT_EQ(path_kind(target), PathKind::folder);
    EXPECT_EQ(read_file(os::join_path(target, "inside.txt")).value_or("<failed>"), "kept");
    EXPECT_EQ(names_in(scratch.path()), std::vector<std::string>{"occupied"});
}

TEST(FilesRead, MissingFileFailsNamingItAndIsReportedMissing) {
    test::ScratchFolder scratch;
    const std::string missing = scratch / "absent.json";
    auto content = read_file(missing);
    ASSERT_FALSE(content.has_value());
    EXPECT_TRUE(content.error().message.starts_with("Could not read " + missing + ": ")) << content.error().message;
    EXPECT_EQ(content.error().message.back(), '.');
    EXPECT_EQ(path_kind(missing), PathKind::missing);
    EXPECT_EQ(path_kind(os::join_path(missing, "below")), PathKind::missing);
}

TEST(FilesAppend, ConcurrentAppendersNeverInterleaveLines) {
    if (test::running_under_wine()) {
        // Wine places an append-only write at the end by looking up the size
        // first, so separate handles can overwrite each other's lines;
        // Windows itself appends each write whole.
        GTEST_SKIP() << "Wine does not append atomically through separate handles";
    }
    test::ScratchFolder scratch;
    const std::string journal = scratch / "journal.jsonl";
    constexpr int threads = 8;
    constexpr int lines_each = 1000;
    std::vector<std::thread> writers;
    std::vector<int> failures(threads, 0);
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < lines_each; ++i) {
                // Long enough that a split write would show up as a broken line.
                std::string line = "{\"thread\":" + std::to_string(t) + ",\"line\":" + std::to_string(i) +
                                   ",\"pad\":\"" + std::string(100 + (i % 50), 'a' + t) + "\"}\n";
                if (!append_to_file(journal, line)) ++failures[t];
            }
        });
    }
    for (std::thread& writer : writers) writer.join();
    for (int t = 0; t < threads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;

    std::string content = read_file(journal).value_or("");
    std::set<std::pair<int, int>> seen;
    std::size_t start = 0;
    int whole_lines = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        ASSERT_NE(end, std::string::npos) << "the file ends inside a line";
        std::string line = content.substr(start, end - start);
        start = end + 1;
        int t = -1;
        int i = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "{\"thread\":%d,\"line\":%d,", &t, &i), 2) << line;
        ASSERT_TRUE(t >= 0 && t < threads) << line;
        std::string expected = "{\"thread\":" + std::to_string(t) + ",\"line\":" + std::to_string(i) + ",\"pad\":\"" +
                               std::string(100 + (i % 50), 'a' + t) + "\"}";
        ASSERT_EQ(line, expected);
        seen.insert({t, i});
        ++whole_lines;
    }
    EXPECT_EQ(whole_lines, threads * lines_each);
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(threads * lines_each));
}

TEST(FilesAppend, ALineAlwaysStartsALineOfItsOwn) {
    test::ScratchFolder scratch;
    const std::string path = scratch / "journal.jsonl";
    ASSERT_TRUE(append_line(path, "one\n").has_value());  // created
    ASSERT_TRUE(append_line(path, "two\n").has_value());
    ASSERT_TRUE(append_to_file(path, "thr").has_value());  // a write cut short
    ASSERT_TRUE(append_line(path, "four\n").has_value());
    EXPECT_EQ(read_file(path).value_or("<failed>"), "one\ntwo\nthr\nfour\n");

    const std::string empty = scratch / "empty";
    ASSERT_TRUE(write_file_replace(empty, "").has_value());
    ASSERT_TRUE(append_line(empty, "first\n").has_value());
    EXPECT_EQ(read_file(empty).value_or("<failed>"), "first\n");

    auto into_folder = append_line(scratch.path(), "x\n");
    ASSERT_FALSE(into_folder.has_value());
    EXPECT_TRUE(into_folder.error().message.starts_with("Could not append to " + scratch.path() + ": "))
        << into_folder.error().message;
}

TEST(FilesRead, TheEndOfAFileAndTheReasonOfAFailure) {
    test::ScratchFolder scratch;
    const std::string path = scratch / "digits";
    ASSERT_TRUE(write_file_replace(path, "0123456789").has_value());
    EXPECT_EQ(read_file_end(path, 4).value_or("<failed>"), "6789");
    EXPECT_EQ(read_file_end(path, 10).value_or("<failed>"), "0123456789");
    EXPECT_EQ(read_file_end(path, 11).value_or("<failed>"), "0123456789");
    EXPECT_EQ(read_file_end(path, 0).value_or("<failed>"), "");
    auto missing = read_file_end(scratch / "absent", 4);
    ASSERT_FALSE(missing.has_value());
    EXPECT_TRUE(missing.error().message.starts_with("Could not read " + (scratch / "absent") + ": "))
        << missing.error().message;

    // The reason alone, also when the path holds ": " itself.
    EXPECT_EQ(failure_reason("Could not append to C:\\a: b\\j.jsonl: Access is denied."), "Access is denied.");
    EXPECT_EQ(failure_reason("Could not read " + missing.error().message.substr(15)),
              failure_reason(missing.error().message));
    EXPECT_EQ(failure_reason("That backup was not found."), "That backup was not found.");
}

TEST(FilesWriteReplaceRegular, WritesNewAndRegularFilesAndRefusesAnythingElse) {
    test::ScratchFolder scratch;
    const std::string target = scratch / "backup.json";
    ASSERT_TRUE(write_file_replace_regular(target, "first").has_value());
    ASSERT_TRUE(write_file_replace_regular(target, "second").has_value());
    EXPECT_EQ(read_file(target).value_or("<failed>"), "second");

    const std::string folder = scratch / "folder";
    ASSERT_TRUE(create_folder(folder).has_value());
    auto refused = write_file_replace_regular(folder, "data");
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error(), "Could not write " + folder + ": it is a folder.");
    EXPECT_EQ(names_in(scratch.path()), (std::vector<std::string>{"backup.json", "folder"}));

#ifdef _WIN32
    for (const std::string& device : {std::string("NUL"), std::string("\\\\.\\NUL")}) {
        auto to_device = write_file_replace_regular(device, "data");
        ASSERT_FALSE(to_device.has_value()) << device;
        EXPECT_EQ(to_device.error(), "Could not write " + device + ": it is not a regular file.");
    }
#endif
}

TEST(FilesFolders, CreateReportsCreatedOrExistedAndListsEntries) {
    test::ScratchFolder scratch;
    const std::string folder = scratch / "data";
    EXPECT_EQ(create_folder(folder).value_or(false), true);
    EXPECT_EQ(create_folder(folder).value_or(true), false);
    EXPECT_EQ(path_kind(folder), PathKind::folder);

    ASSERT_TRUE(write_file_replace(os::join_path(folder, "a.json"), "12345").has_value());
    ASSERT_TRUE(write_file_replace(os::join_path(folder, "b.txt"), "").has_value());
    ASSERT_TRUE(create_folder(os::join_path(folder, "backups")).has_value());

    // A file in the way is an error, not "existed".
    auto over_file = create_folder(os::join_path(folder, "a.json"));
    ASSERT_FALSE(over_file.has_value());
    EXPECT_NE(over_file.error().message.find("a.json"), std::string::npos) << over_file.error().message;

    auto entries = list_folder(folder);
    ASSERT_TRUE(entries.has_value()) << entries.error();
    ASSERT_EQ(entries->size(), 3u);
    std::sort(entries->begin(), entries->end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    EXPECT_EQ((*entries)[0].name, "a.json");
    EXPECT_FALSE((*entries)[0].is_folder);
    EXPECT_EQ((*entries)[0].size, 5u);
    EXPECT_EQ((*entries)[1].name, "b.txt");
    EXPECT_EQ((*entries)[1].size, 0u);
    EXPECT_EQ((*entries)[2].name, "backups");
    EXPECT_TRUE((*entries)[2].is_folder);
    auto now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_LT(std::abs((*entries)[0].modified_unix - now), 24 * 3600);

    auto missing = list_folder(scratch / "nowhere");
    ASSERT_FALSE(missing.has_value());
    EXPECT_NE(missing.error().message.find(scratch / "nowhere"), std::string::npos) << missing.error().message;
}

TEST(FilesFolders, CreateFoldersMakesEveryParentAndRemoveTreeRemovesAll) {
    test::ScratchFolder scratch;
    const std::string deep = os::join_path(os::join_path(scratch / "a", "b"), "c");
    ASSERT_TRUE(create_folders(deep).has_value());
    EXPECT_EQ(path_kind(deep), PathKind::folder);
    EXPECT_TRUE(create_folders(deep).has_value());
    EXPECT_TRUE(create_folders(deep + path_separator()).has_value());
    ASSERT_TRUE(write_file_replace(os::join_path(deep, "leaf.txt"), "x").has_value());

    ASSERT_TRUE(remove_tree(scratch / "a").has_value());
    EXPECT_EQ(path_kind(scratch / "a"), PathKind::missing);
    EXPECT_TRUE(remove_tree(scratch / "a").has_value()) << "removing what is gone succeeds";
}

TEST(FilesPaths, RenameReplaceAndRemoveFile) {
    test::ScratchFolder scratch;
    ASSERT_TRUE(write_file_replace(scratch / "new", "new").has_value());
    ASSERT_TRUE(write_file_replace(scratch / "old", "old").has_value());
    ASSERT_TRUE(rename_replace(scratch / "new", scratch / "old").has_value());
    EXPECT_EQ(read_file(scratch / "old").value_or(""), "new");
    EXPECT_EQ(path_kind(scratch / "new"), PathKind::missing);

    auto from_missing = rename_replace(scratch / "new", scratch / "other");
    ASSERT_FALSE(from_missing.has_value());
    EXPECT_NE(from_missing.error().message.find(scratch / "new"), std::string::npos) << from_missing.error().message;

    ASSERT_TRUE(remove_file(scratch / "old").has_value());
    EXPECT_EQ(path_kind(scratch / "old"), PathKind::missing);
    EXPECT_TRUE(remove_file(scratch / "old").has_value()) << "removing a missing file succeeds";

    const std::string sep(1, path_separator());
    EXPECT_EQ(join_path("base" + sep, "name"), "base" + sep + "name");
    EXPECT_EQ(join_path("base", "name"), "base" + sep + "name");
}

TEST(FilesPaths, NonAsciiNamesWork) {
    test::ScratchFolder scratch;
    const std::string folder = scratch / "Bücher-日本";
    ASSERT_EQ(create_folder(folder).value_or(false), true);
    const std::string file = os::join_path(folder, "データ ü.json");
    ASSERT_TRUE(write_file_replace(file, "Grüße").has_value());
    ASSERT_TRUE(append_to_file(file, " 日本").has_value());
    EXPECT_EQ(read_file(file).value_or("<failed>"), "Grüße 日本");
    EXPECT_EQ(path_kind(file), PathKind::file);
    EXPECT_EQ(names_in(scratch.path()), std::vector<std::string>{"Bücher-日本"});
    EXPECT_EQ(names_in(folder), std::vector<std::string>{"データ ü.json"});

    auto missing = read_file(os::join_path(folder, "fehlt-ß.json"));
    ASSERT_FALSE(missing.has_value());
    EXPECT_NE(missing.error().message.find("fehlt-ß.json"), std::string::npos) << missing.error().message;

    ASSERT_TRUE(remove_tree(folder).has_value());
    EXPECT_EQ(path_kind(folder), PathKind::missing);
}

}  // namespace
}  // namespace qm::os
