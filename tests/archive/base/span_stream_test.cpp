#include "archive/base/span_stream.h"

#include <gtest/gtest.h>

#include <vector>

#include "archive/base/exceptions.h"
#include "rtl/exceptions.h"
#include "scratch_prefix.h"

namespace velmora {
namespace {

// The archive opens its file read-only and shared.
constexpr uint16_t kArchiveOpenMode = fmOpenRead | fmShareDenyNone;

std::string Bytes(size_t count, char first) {
  std::string bytes(count, ' ');
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(first + i % 23);
  return bytes;
}

class TAbSpanStreamTest : public ScratchPrefixTest {
 protected:
  void SetUp() override {
    ScratchPrefixTest::SetUp();
    first_ = Bytes(100, 'a');
    second_ = Bytes(40, 'A');
    WriteHostFile("set.z01", first_);
    WriteHostFile("set.zip", second_);
  }

  std::unique_ptr<TAbSpanStream> Open(uint8_t media = mkFixed) {
    return std::make_unique<TAbSpanStream>(Win("set.z01"), 0, media, kArchiveOpenMode);
  }

  std::string ReadAll(TStream& stream, int32_t count) {
    std::string out(static_cast<size_t>(count), '\0');
    out.resize(static_cast<size_t>(stream.Read(out.data(), count)));
    return out;
  }

  struct Request {
    int32_t number;
    std::string name;
  };
  // A handler that records each request and answers with the next name.
  TAbRequestImageEvent Answer(std::vector<Request>& log, std::vector<std::string> names,
                              bool abort = false) {
    return [&log, names, abort](void*, int32_t number, std::string& name, bool& cancel) {
      log.push_back({number, name});
      if (log.size() <= names.size()) name = names[log.size() - 1];
      cancel = abort;
    };
  }

  std::string first_, second_;
};

TEST_F(TAbSpanStreamTest, RequiresAFullPath) {
  WriteHostFile("bare.zip", "x");
  for (const char* name : {"bare.zip", "dir\\bare.zip", "dir/bare.zip"}) {
    try {
      TAbSpanStream stream(name, 0, mkFixed, kArchiveOpenMode);
      FAIL() << name;
    } catch (const EAbException& e) {
      EXPECT_EQ(e.Message(), "Full Path Required");
      EXPECT_EQ(e.ErrorCode, 0);
    }
  }
}

TEST_F(TAbSpanStreamTest, OpensAFullPathForReading) {
  auto stream = Open();
  EXPECT_FALSE(stream->Writing());
  EXPECT_EQ(stream->ImageName(), Win("set.z01"));
  EXPECT_EQ(stream->Size(), 100);
  EXPECT_EQ(ReadAll(*stream, 100), first_);
  EXPECT_FALSE(stream->ImageSwitched);
  EXPECT_EQ(stream->ImageNumber(), 0u);
}

TEST_F(TAbSpanStreamTest, ReadWriteAccessStillReads) {
  TAbSpanStream stream(Win("set.z01"), 0, mkFixed, fmOpenReadWrite);
  EXPECT_FALSE(stream.Writing());
}

TEST_F(TAbSpanStreamTest, MissingFileFailsWithTheFileStreamsError) {
  EXPECT_THROW(TAbSpanStream(Win("missing.zip"), 0, mkFixed, kArchiveOpenMode), EFOpenError);
}

TEST_F(TAbSpanStreamTest, ReadsShortAtTheEndAndStopsWithoutAHandler) {
  auto stream = Open();
  EXPECT_EQ(stream->Seek(90, soFromBeginning), 90);
  EXPECT_EQ(ReadAll(*stream, 20), first_.substr(90));
  EXPECT_EQ(ReadAll(*stream, 20), "");
  EXPECT_FALSE(stream->ImageSwitched);
}

TEST_F(TAbSpanStreamTest, ReadInPlaceGivesTheBytesReadWouldAndMovesOnTheSame) {
  auto stream = Open();
  std::vector<Request> log;
  stream->OnRequestImage = Answer(log, {Win("set.zip")});
  stream->Seek(30, soFromBeginning);
  const uint8_t* data = nullptr;
  ASSERT_EQ(stream->ReadInPlace(data, 50), 50);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 50), first_.substr(30, 50));
  EXPECT_EQ(stream->Position(), 80);
  // Short at the end of the image, then on to the next one as Read does.
  ASSERT_EQ(stream->ReadInPlace(data, 50), 20);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 20), first_.substr(80));
  EXPECT_TRUE(log.empty());
  ASSERT_EQ(stream->ReadInPlace(data, 5), 5);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 5), second_.substr(0, 5));
  EXPECT_EQ(log.size(), 1u);
  // Mixed with copying reads and a seek back: the buffer follows.
  EXPECT_EQ(ReadAll(*stream, 5), second_.substr(5, 5));
  stream->Seek(2, soFromBeginning);
  ASSERT_EQ(stream->ReadInPlace(data, 3), 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 3), second_.substr(2, 3));
}

TEST_F(TAbSpanStreamTest, LongInPlaceRunsGiveTheFilesBytesAcrossViews) {
  // Longer than one view of the file, with a run that starts off a page.
  const std::string big = Bytes(5 * 1024 * 1024 + 333, '!');
  WriteHostFile("big.zip", big);
  TAbSpanStream stream(Win("big.zip"), 0, mkFixed, kArchiveOpenMode);
  EXPECT_EQ(ReadAll(stream, 7), big.substr(0, 7));  // a header, through the buffer
  std::string seen = big.substr(0, 7);
  while (seen.size() < big.size()) {
    const uint8_t* data = nullptr;
    const int64_t run = static_cast<int64_t>(big.size() - seen.size());
    const int32_t got = stream.ReadInPlace(data, 256 * 1024, run);
    ASSERT_GT(got, 0) << "at " << seen.size();
    seen.append(reinterpret_cast<const char*>(data), static_cast<size_t>(got));
  }
  EXPECT_TRUE(seen == big);
  // A seek back into what was viewed reads the same bytes again.
  stream.Seek(4 * 1024 * 1024, soFromBeginning);
  EXPECT_EQ(ReadAll(stream, 64), big.substr(4 * 1024 * 1024, 64));
}

TEST_F(TAbSpanStreamTest, AskedForTheNextImageOnlyByAReadAtTheEnd) {
  auto stream = Open();
  std::vector<Request> log;
  stream->OnRequestImage = Answer(log, {Win("set.zip")});
  EXPECT_EQ(ReadAll(*stream, 150), first_);  // short: stops at the end of the image
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(ReadAll(*stream, 0), "");  // a read of nothing does not move on
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(ReadAll(*stream, 10), second_.substr(0, 10));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].number, 1);
  EXPECT_EQ(log[0].name, Win("set.z01"));
  EXPECT_TRUE(stream->ImageSwitched);
  EXPECT_EQ(stream->ImageNumber(), 1u);
  EXPECT_EQ(stream->ImageName(), Win("set.zip"));
  EXPECT_EQ(stream->Position(), 10);
  EXPECT_EQ(stream->Size(), 40);
}

TEST_F(TAbSpanStreamTest, RemovableMediaCountDisksFromOne) {
  auto stream = Open(mkRemovable);
  std::vector<Request> log;
  stream->OnRequestImage = Answer(log, {Win("set.zip")});
  stream->Seek(0, soFromEnd);
  EXPECT_EQ(ReadAll(*stream, 5), second_.substr(0, 5));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].number, 2);
}

TEST_F(TAbSpanStreamTest, AbortedImageRequestRaisesUserAbortAndLeavesNoFile) {
  auto stream = Open();
  std::vector<Request> log;
  stream->OnRequestImage = Answer(log, {}, true);
  stream->Seek(0, soFromEnd);
  try {
    ReadAll(*stream, 1);
    FAIL() << "an abort must raise";
  } catch (const EAbUserAbort& e) {
    EXPECT_EQ(e.Message(), "Process aborted by user");
    EXPECT_EQ(e.ErrorCode, 9);
  }
  EXPECT_FALSE(stream->HasFile());
  EXPECT_FALSE(stream->ImageSwitched);
  EXPECT_EQ(ReadAll(*stream, 5), "");
  EXPECT_EQ(stream->Seek(3, soFromBeginning), 0);
  EXPECT_EQ(log.size(), 1u);
}

TEST_F(TAbSpanStreamTest, MissingNextImageFailsWithTheFileStreamsError) {
  auto stream = Open();
  std::vector<Request> log;
  stream->OnRequestImage = Answer(log, {Win("set.z02")});
  stream->Seek(0, soFromEnd);
  EXPECT_THROW(ReadAll(*stream, 1), EFOpenError);
  EXPECT_FALSE(stream->HasFile());
  EXPECT_EQ(ReadAll(*stream, 1), "");
}

TEST_F(TAbSpanStreamTest, StayInImageReadsAndSeeksOnlyWithinTheFile) {
  auto stream = Open();
  std::vector<Request> log;
  stream->OnRequestImage = Answer(log, {Win("set.zip")});
  stream->StayInImage = true;
  EXPECT_EQ(stream->Seek(-22, soFromEnd), 78);
  EXPECT_EQ(ReadAll(*stream, 22), first_.substr(78));
  EXPECT_EQ(stream->Seek(1000, soFromBeginning), 100);
  EXPECT_EQ(ReadAll(*stream, 5), "");
  EXPECT_EQ(stream->Seek(-7, soFromBeginning), 0);
  EXPECT_EQ(stream->Seek(-1000, soFromCurrent), 0);
  EXPECT_EQ(stream->Seek(INT64_MAX, soFromCurrent), 100);
  EXPECT_TRUE(log.empty());
}

TEST_F(TAbSpanStreamTest, SeekOutsideWithoutAHandlerStaysPut) {
  auto stream = Open();
  stream->Seek(30, soFromBeginning);
  EXPECT_EQ(stream->Seek(101, soFromBeginning), 30);
  EXPECT_EQ(stream->Seek(-31, soFromCurrent), 30);
  EXPECT_EQ(stream->Seek(INT64_MIN, soFromEnd), 30);
  EXPECT_EQ(stream->Seek(5, 7), 30);  // an unknown origin means "here"
  EXPECT_EQ(ReadAll(*stream, 3), first_.substr(30, 3));
}

TEST_F(TAbSpanStreamTest, SeekBeforeTheStartGoesBackAnImage) {
  auto stream = Open();
  std::vector<Request> log;
  stream->OnRequestImage = Answer(log, {Win("set.zip"), Win("set.z01")});
  stream->Seek(0, soFromEnd);
  ReadAll(*stream, 4);  // now in set.zip at 4, image 1
  EXPECT_EQ(stream->Seek(-10, soFromCurrent), 94);  // 6 before the start: 6 before the end
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].number, 0);
  EXPECT_EQ(stream->ImageNumber(), 0u);
  EXPECT_EQ(ReadAll(*stream, 6), first_.substr(94));
}

TEST_F(TAbSpanStreamTest, WriteOnAReadingStreamWritesNothing) {
  auto stream = Open();
  EXPECT_EQ(stream->Write("zzzz", 4), 0);
  stream.reset();
  EXPECT_EQ(ReadHostFile("set.z01"), first_);
}

TEST_F(TAbSpanStreamTest, WritingStreamCreatesItsFileAndKeepsToTheThreshold) {
  {
    TAbSpanStream stream(Win("out.zip"), 10, mkFixed, fmCreate);
    EXPECT_TRUE(stream.Writing());
    EXPECT_GT(stream.BytesAvailable(), 0);
    EXPECT_EQ(stream.Write("0123456", 7), 7);
    EXPECT_EQ(stream.Write("789abc", 6), 3);  // cut at the threshold
    EXPECT_EQ(stream.Seek(0, soFromBeginning), 10);  // a writing stream does not move
  }
  EXPECT_EQ(ReadHostFile("out.zip"), "0123456789");
}

TEST_F(TAbSpanStreamTest, CheckMediaKnowsTheFreeSpaceOfAMappedDrive) {
  auto stream = Open();
  EXPECT_TRUE(stream->CheckMedia(Win("anything.zip")));
  EXPECT_GT(stream->BytesAvailable(), 0);
  // A bare name has no drive to ask; true because no such file exists.
  EXPECT_TRUE(stream->CheckMedia("nothing-here.zip"));
  EXPECT_EQ(stream->BytesAvailable(), -1);
}

}  // namespace
}  // namespace velmora
