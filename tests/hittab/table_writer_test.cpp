// The writer on its own: the header row, rows, exclusive creation, and write
// failures that must never pass for success.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "hittab/table_writer.hpp"
#include "scratch_dir.hpp"

namespace hittab::tests {
namespace {

const std::string header = "id1 id2 length score length2 e_value identities gaps strand\n";

HitRecord record_of(std::string_view id1, std::string_view strand) {
    HitRecord record;
    record.id1 = id1;
    record.id2 = "B";
    record.length = "3";
    record.score = "";
    record.strand = strand;
    return record;
}

TEST(Dump, FirstCallWritesColumnNamesThenEveryCallWritesARow) {
    ScratchDir dir;
    {
        TableWriter table = create_table(dir / "t");
        dump(record_of("ignored", "x"), table);
        dump(record_of("A", "Plus / Minus"), table);
        dump(record_of("id1", "Plus/Plus"), table);
        close_table(table);
    }
    EXPECT_EQ(read_file(dir / "t"), header + "A B 3  length2 e_value identities gaps Plus / Minus\n" +
                                        "id1 B 3  length2 e_value identities gaps Plus/Plus\n");
}

TEST(Dump, RowsPendingAtAFailureStillReachTheFile) {
    ScratchDir dir;
    {
        TableWriter table = create_table(dir / "t");
        dump(HitRecord{}, table);
        dump(record_of("A", "s"), table);
        // Leaving the scope without close_table, as a failure would.
    }
    EXPECT_EQ(read_file(dir / "t"), header + "A B 3  length2 e_value identities gaps s\n");
}

TEST(Dump, ManyRowsAreWrittenInOrder) {
    ScratchDir dir;
    std::string expected = header;
    {
        TableWriter table = create_table(dir / "t");
        dump(HitRecord{}, table);
        for (int i = 0; i < 20000; ++i) {
            std::string id = "seq" + std::to_string(i);
            dump(record_of(id, "Plus/Plus"), table);
            expected += id + " B 3  length2 e_value identities gaps Plus/Plus\n";
        }
        close_table(table);
    }
    EXPECT_EQ(read_file(dir / "t"), expected);
}

TEST(Dump, RowLargerThanTheBufferKeepsItsPlace) {
    ScratchDir dir;
    std::string huge(row_buffer_size + 10, 'h');
    {
        TableWriter table = create_table(dir / "t");
        dump(HitRecord{}, table);
        dump(record_of("before", "s"), table);
        dump(record_of(huge, "Plus/Minus"), table);
        dump(record_of("after", "s"), table);
        close_table(table);
    }
    std::string expected = header + "before B 3  length2 e_value identities gaps s\n" + huge +
                           " B 3  length2 e_value identities gaps Plus/Minus\n" +
                           "after B 3  length2 e_value identities gaps s\n";
    EXPECT_TRUE(read_file(dir / "t") == expected);  // not printed: the row is huge
}

TEST(Dump, RowLargerThanTheBufferWithEmptyValues) {
    ScratchDir dir;
    std::string huge(row_buffer_size, 'h');
    HitRecord record = record_of(huge, "");
    record.length2 = std::string_view();  // views no storage at all
    {
        TableWriter table = create_table(dir / "t");
        dump(HitRecord{}, table);
        dump(record, table);
        close_table(table);
    }
    EXPECT_TRUE(read_file(dir / "t") == header + huge + " B 3   e_value identities gaps \n");
}

TEST(CloseAfterFailure, SaysWhenPendingRowsCannotBeWritten) {
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    TableWriter table{RowOutput(FileHandle(full), "/dev/full")};
    dump(HitRecord{}, table);
    EXPECT_EQ(table.output_fp.close_after_failure(),
              "the table '/dev/full' could not be completed: No space left on device");
}

TEST(CloseAfterFailure, SaysNothingWhenTheRowsReachTheFile) {
    ScratchDir dir;
    {
        TableWriter table = create_table(dir / "t");
        dump(HitRecord{}, table);
        dump(record_of("A", "s"), table);
        EXPECT_EQ(table.output_fp.close_after_failure(), "");
    }
    EXPECT_EQ(read_file(dir / "t"), header + "A B 3  length2 e_value identities gaps s\n");
}

TEST(CloseAfterFailure, AWriteFailureThatEndedTheRunIsNotNotedTwice) {
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    TableWriter table{RowOutput(FileHandle(full), "/dev/full")};
    HitRecord record = record_of(std::string(row_buffer_size, 'x'), "s");
    dump(HitRecord{}, table);
    EXPECT_THROW(dump(record, table), Failure);
    EXPECT_EQ(table.output_fp.close_after_failure(), "");
}

TEST(CreateTable, AnythingAlreadyAtThePathIsAPreconditionFailureAndUntouched) {
    ScratchDir dir;
    write_file(dir / "file", "keep me");
    std::filesystem::create_directory(dir / "directory");
    std::filesystem::create_symlink(dir / "file", dir / "link");
    std::filesystem::create_symlink(dir / "nowhere", dir / "dangling");
    for (const char* name : {"file", "directory", "link", "dangling"}) {
        try {
            TableWriter table = create_table(dir / name);
            ADD_FAILURE() << name << " was opened";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.kind, FailureKind::precondition) << name;
            EXPECT_NE(std::string(failure.what()).find("already exists"), std::string::npos) << failure.what();
        }
    }
    EXPECT_EQ(read_file(dir / "file"), "keep me");
    EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
    EXPECT_EQ(std::filesystem::read_symlink(dir / "dangling"), dir / "nowhere");
}

TEST(CreateTable, MissingDirectoryIsAnInputOutputFailure) {
    ScratchDir dir;
    try {
        TableWriter table = create_table(dir / "absent/t");
        ADD_FAILURE() << "created";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.kind, FailureKind::io);
        EXPECT_EQ(std::string(failure.what()),
                  "cannot create table '" + (dir / "absent/t") + "': No such file or directory");
    }
}

TEST(CloseTable, WriteFailureIsRaisedNotSwallowed) {
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    TableWriter table{RowOutput(FileHandle(full), "/dev/full")};
    dump(HitRecord{}, table);
    try {
        close_table(table);
        ADD_FAILURE() << "closing a full device succeeded";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.kind, FailureKind::io);
        EXPECT_EQ(std::string(failure.what()), "cannot write table '/dev/full': No space left on device");
    }
}

TEST(Dump, WriteFailureDuringLargeOutputIsRaised) {
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    TableWriter table{RowOutput(FileHandle(full), "/dev/full")};
    std::string long_id(1000, 'x');
    HitRecord record = record_of(long_id, "s");
    EXPECT_THROW(
        {
            for (int i = 0; i < 10000; ++i) dump(record, table);
        },
        Failure);
}

}  // namespace
}  // namespace hittab::tests
