#include "archive/zip/zip_extract.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <vector>

#include "archive/base/directories.h"
#include "archive/base/exceptions.h"
#include "archive/base/file_info.h"
#include "archive/base/span_stream.h"
#include "archive/base/temp_file_stream.h"
#include "archive/checksum/crc32.h"
#include "archive/crypt/decrypt_stream.h"
#include "archive/crypt/zdecoder.h"
#include "archive/inflate/deflate_helper.h"
#include "archive/inflate/inflate.h"
#include "archive/inflate/inflate_errors.h"
#include "archive/legacy/unzip_helper.h"
#include "archive/methods/methods.h"
#include "archive/zip/bit_bucket_stream.h"
#include "archive/zip/bounded_output_stream.h"
#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_methods.h"
#include "platform/paths.h"
#include "platform/sysutils.h"
#include "platform/win32.h"
#include "rtl/format.h"

namespace velmora {

namespace {

// Stored data is handed on in steps of this size: each step gets its CRC
// update and, when the whole percentage changes, a progress report.
constexpr int32_t kStoredStep = 1024;
// ... and read and written in blocks of up to this many steps, so a large
// stored item does not cost a system call per kilobyte. An archive read
// through a span stream hands its blocks over inside the stream's own
// buffer (of the same size), with no copy in between.
constexpr int32_t kStoredBlock = 256 * kStoredStep;

// ZIP methods with a path of their own; the legacy expander takes the rest.
constexpr uint8_t kMethodStored = 0;
constexpr uint8_t kMethodDeflate = 8;
constexpr uint8_t kMethodDeflate64 = 9;
constexpr uint8_t kMethodShrink = 1;   // Shrink, Reduce (2-5), Implode:
constexpr uint8_t kMethodImplode = 6;  // the legacy decoders

// What the engine cannot do, whatever version the item says it needs
// (tools mark ZIP64 or UTF-8 items 4.5 or 6.3 though they are plain
// Deflate): data patched against another file and PKWARE's strong
// encryption. An unknown method is the method's own error.
void CheckCapability(const TAbZipItem& item) {
  if ((item.FlagBits() & kAbFlagStrongEncryption) != 0) {
    throw EAbZipUnsupportedFeature("Cannot extract file - strong encryption is not supported");
  }
  if ((item.FlagBits() & kAbFlagPatchedData) != 0) {
    throw EAbZipUnsupportedFeature("Cannot extract file - patched data is not supported");
  }
}

// Brings a spanned archive's stream to the disk the item starts on. A span
// stream that has moved on to the next image by itself (an item's data ran
// over the end of its image) no longer stands where ActiveDisk says, so it
// is switched as well; a fresh stream from SwitchImage starts unmoved.
void SwitchToItemDisk(TAbZipArchive& archive, const TAbZipItem& item) {
  if (!archive.Spanned) return;
  auto* span = dynamic_cast<TAbSpanStream*>(archive.Stream());
  const bool moved_by_itself = span != nullptr && span->ImageSwitched;
  if (item.StartDisk() == archive.ActiveDisk && !moved_by_itself) return;
  archive.ActiveDisk = item.StartDisk();
  if (span == nullptr) throw EAbZipBadSpanStream();
  bool abort = false;
  archive.SwitchImage(archive.ActiveDisk, abort);
  if (abort) throw EAbUserAbort();
}

// The first steps of extracting or testing an item: refuses what the engine
// cannot do, brings in the item's disk and reads its local header, leaving
// the archive's stream just behind the header.
TAbZipLocalFileHeader ReadLocalHeader(TAbZipArchive& archive, const TAbZipItem& item) {
  CheckCapability(item);
  SwitchToItemDisk(archive, item);
  TStream& source = *archive.Stream();
  source.Seek(static_cast<int64_t>(item.LocalHeaderOffset()), soFromBeginning);
  TAbZipLocalFileHeader header;
  header.ReadFromStream(source);
  return header;
}

// What the encryption header and the CRC are checked against: with a data
// descriptor (bit 3) the CRC was not known when the local header was
// written, so zip put the high byte of the DOS time in the header instead.
uint32_t MakeCheckValue(const TAbZipLocalFileHeader& header, const TAbZipItem& item) {
  if ((header.GeneralPurposeBitFlag & kAbFlagDataDescriptor) != 0) {
    return static_cast<uint32_t>(header.LastModFileTime) << 16;
  }
  return item.GetCrc32();
}

// done * 100 / total to the nearest whole number, halves to even.
uint8_t RoundedPercent(int64_t done, int64_t total) {
  const int64_t scaled = done * 100;
  int64_t quotient = scaled / total;
  const int64_t twice_rest = 2 * (scaled % total);
  if (twice_rest > total || (twice_rest == total && (quotient & 1) != 0)) ++quotient;
  return static_cast<uint8_t>(std::min<int64_t>(quotient, 100));
}

// Sizes in the item model are 64-bit and never negative (ZIP64 sizes above
// 2^63 are cut to what the model holds).
int64_t UnsignedSize(int64_t size) { return std::max<int64_t>(size, 0); }

void ReportStep(TAbZipArchive& archive, uint8_t percent, bool& abort) {
  if (archive.OnStepProgress) archive.OnStepProgress(percent, abort);
}

// A decrypting stream over the archive stream whose header has passed:
// the first check plus up to PasswordRetries more, asking before each.
std::unique_ptr<TAbDfDecryptStream> OpenStoredDecryption(TAbZipArchive& archive,
                                                         uint32_t check_value) {
  int count = 0;
  EnsurePassword(archive, count);
  auto stream =
      std::make_unique<TAbDfDecryptStream>(archive.Stream(), archive.Password, check_value);
  while (!stream->VerifyHeader()) {
    if (count >= archive.PasswordRetries) throw EAbZipInvalidPassword();
    if (RequestPassword(archive)) throw EAbUserAbort();
    stream = std::make_unique<TAbDfDecryptStream>(archive.Stream(), archive.Password, check_value);
    ++count;
  }
  return stream;
}

}  // namespace

bool IsFolderItem(const TAbZipItem& Item) {
  const std::string name = Item.GetStoredName();
  if (!name.empty() && (name.back() == '/' || name.back() == '\\')) return true;
  return (Item.GetHostAttributes() & FILE_ATTRIBUTE_DIRECTORY) != 0 && Item.GetUnpackedSize() == 0;
}

bool RequestPassword(TAbZipArchive& Archive) {
  bool abort = false;
  if (Archive.OnNeedPassword) {
    std::string answer = Archive.Password;
    Archive.OnNeedPassword(&Archive, answer);
    if (!answer.empty()) {
      Archive.Password = answer;
    } else {
      abort = true;
    }
  }
  return abort;
}

bool EnsurePassword(TAbZipArchive& Archive, int& Count) {
  bool abort = false;
  if (Archive.Password.empty()) {
    abort = RequestPassword(Archive);
    ++Count;
  }
  if (Archive.Password.empty()) throw EAbZipInvalidPassword();
  return abort;
}

uint32_t CopyStoredData(TAbZipArchive& Archive, TAbZipItem& Item, TStream* Stream,
                        uint32_t CheckValue) {
  const int64_t total = UnsignedSize(Item.GetUnpackedSize());
  int64_t remaining = total;
  int64_t done = 0;
  uint32_t crc = 0xFFFFFFFFu;
  uint8_t last_percent = 0;
  bool abort = false;
  const bool keeps_only_recent = dynamic_cast<TAbBitBucketStream*>(Stream) != nullptr;
  try {
    std::unique_ptr<TAbDfDecryptStream> decrypt;
    TStream* source = Archive.Stream();
    if (Item.GetEncrypted()) {
      decrypt = OpenStoredDecryption(Archive, CheckValue);
      source = decrypt.get();
    }
    // Sized for the item, never cleared: a small item costs no more than
    // its own bytes, and only bytes just read are ever looked at. Only for
    // a source that lends none of its memory.
    std::unique_ptr<uint8_t[]> own_block;
    bool lends = true;
    while (!abort) {
      const auto wanted = static_cast<int32_t>(std::min<int64_t>(kStoredBlock, remaining));
      const uint8_t* data = nullptr;
      int32_t got = 0;
      if (wanted > 0 && lends) {
        got = source->ReadInPlace(data, wanted, remaining);
        lends = got >= 0;
      }
      if (wanted > 0 && !lends) {
        if (!own_block) own_block = std::make_unique_for_overwrite<uint8_t[]>(wanted);
        got = source->Read(own_block.get(), wanted);
        data = own_block.get();
      }
      if (got <= 0) break;  // a source that ends early fails the CRC later
      int32_t passed = 0;
      while (passed < got && !abort) {
        const int32_t step = std::min(kStoredStep, got - passed);
        passed += step;
        done += step;
        remaining -= step;
        const uint8_t percent = RoundedPercent(done, total);
        if (percent != last_percent) {
          ReportStep(Archive, percent, abort);
          last_percent = percent;
        }
      }
      UpdateCrc32Buffer(crc, data, passed);
      if (keeps_only_recent) {
        // A bit bucket takes no more than its ring at a time.
        for (int32_t at = 0; at < passed; at += kStoredStep) {
          Stream->WriteBuffer(data + at, std::min(kStoredStep, passed - at));
        }
      } else {
        Stream->WriteBuffer(data, passed);
      }
    }
  } catch (const EAbUserAbort&) {
    abort = true;
  }
  if (last_percent < 100) {
    // The progress handler starts from "go on"; an abort already caught
    // must survive its answer.
    bool abort_at_end = false;
    ReportStep(Archive, 100, abort_at_end);
    abort = abort || abort_at_end;
  }
  if (abort) throw EAbUserAbort();
  return ~crc;
}

uint32_t InflateItemData(TAbZipArchive& Archive, TAbZipItem& Item, TStream* Stream,
                         uint32_t CheckValue) {
  TAbDeflateHelper helper;
  if (dynamic_cast<TAbBitBucketStream*>(Stream) != nullptr) helper.Options |= dfoTestOnly;
  // The central directory decides Deflate64; the local header chose the path.
  if (Item.Method() == kMethodDeflate64) helper.Options |= dfoDeflate64;
  const bool deflate64 = (helper.Options & dfoDeflate64) != 0;
  const int64_t declared = UnsignedSize(Item.GetUnpackedSize());
  if (InflatedSizeIsPossible(UnsignedSize(Item.GetPackedSize()), declared, deflate64))
    helper.KnownUnpackedSize = declared;
  // A test counts the output rather than pass it through the bound; what
  // runs past the declared size goes to a bound with no room left, which
  // refuses it as the item's own bound would.
  auto* bounded = dynamic_cast<TAbBoundedOutputStream*>(Stream);
  std::optional<TAbBoundedOutputStream> full;
  if (bounded != nullptr && bounded->Bucket() != nullptr) {
    helper.Options |= dfoTestOnly;
    helper.KnownUnpackedSize = bounded->Room();
    full.emplace(bounded->Bucket(), 0);
    Stream = &*full;
  }
  helper.SourceSize = UnsignedSize(Item.GetPackedSize());
  // Inflate ends quietly with 0 when its progress handler stops it; we note
  // the stop so it is reported as the abort it is, never as a bad CRC.
  bool aborted = false;
  helper.OnProgressPercent = [&Archive, &aborted](int32_t percent) {
    try {
      Archive.InflateProgressStep(percent);
    } catch (const EAbAbortProgress&) {
      aborted = true;
      throw;
    }
  };
  auto run = [&]() {
    const uint32_t crc = Inflate(Archive.Stream(), Stream, &helper);
    if (aborted) throw EAbUserAbort();
    return crc;
  };
  if (!Item.GetEncrypted()) return run();

  int count = 0;
  EnsurePassword(Archive, count);
  helper.PasswordCheckValue = CheckValue;
  for (;;) {
    helper.Passphrase = Archive.Password;
    try {
      return run();
    } catch (const EAbInflatePasswordError&) {
      // Inflate has moved the stream back to the encryption header.
      if (RequestPassword(Archive)) throw EAbUserAbort();
      ++count;
      if (count >= Archive.PasswordRetries) throw EAbZipInvalidPassword();
    }
  }
}

uint32_t ExpandLegacyData(TAbZipArchive& Archive, TAbZipItem& Item, TStream* Stream,
                          uint32_t CheckValue) {
  std::unique_ptr<TAbZDecoder> decoder;
  if (Item.GetEncrypted()) {
    decoder = std::make_unique<TAbZDecoder>(Archive.Password, true, CheckValue, Archive.Stream());
    decoder->OnNeedPassword = Archive.OnNeedPassword;
    decoder->Attempts = Archive.PasswordRetries;
  }
  TAbUnzipHelper helper(Archive.Stream(), decoder.get(), Stream);
  helper.ImplodeDictionary = Item.ImplodeDictionary();
  helper.ImplodeTreeCount = Item.ImplodeTreeCount();
  helper.PackedSize = static_cast<uint32_t>(std::min<int64_t>(Item.GetPackedSize(), UINT32_MAX));
  helper.UnpackedSize = UnsignedSize(Item.GetUnpackedSize());
  helper.Method = Item.Method();
  helper.OnProgress = Archive.OnStepProgress;
  if (Archive.OnRequestNthDisk) {
    helper.OnRequestNthDisk = [&Archive](void* sender, int32_t disk, bool& abort) {
      Archive.OnRequestNthDisk(sender, static_cast<uint8_t>(disk), abort);
    };
  }
  if (Archive.Spanned) {
    helper.ArchiveFileName = Archive.ArchiveFileName;
    helper.CurrentDisk = Archive.ActiveDisk;
    helper.Spanned = true;
    helper.OpenMode = Archive.OpenMode();
    helper.SwitchImage = [&Archive](uint16_t disk) {
      if (dynamic_cast<TAbSpanStream*>(Archive.Stream()) == nullptr) {
        throw EAbZipBadSpanStream();
      }
      bool abort = false;
      Archive.ActiveDisk = disk;
      Archive.SwitchImage(disk, abort);
      return Archive.Stream();
    };
  }
  return helper.Execute();
}

void CheckItemPassword(TAbZipArchive& Archive, const TAbZipItem& Item) {
  if (!Item.GetEncrypted()) return;
  const TAbZipLocalFileHeader header = ReadLocalHeader(Archive, Item);
  // Only where reading the item checks this header first: a method we
  // cannot decode is refused before any question, and WinZip's AES has a
  // check of its own, made when the item is read.
  const uint16_t method = header.CompressionMethod;
  const bool legacy = method >= kMethodShrink && method <= kMethodImplode;
  const bool checked_first =
      method == kMethodStored || method == kMethodDeflate || method == kMethodDeflate64 ||
      legacy || (IsMethodsLibraryItem(method) && IsMethodDecodable(method));
  if (!checked_first) return;
  (void)OpenStoredDecryption(Archive, MakeCheckValue(header, Item));
}

void UnzipItemToStream(TAbZipArchive& Archive, TAbZipItem& Item, TStream* Stream) {
  if (Stream == nullptr) throw EAbBadStream();
  const TAbZipLocalFileHeader header = ReadLocalHeader(Archive, Item);
  const uint32_t check_value = MakeCheckValue(header, Item);

  // No method produces more than the entry declares, nor copies stored data
  // beyond the bytes the entry holds (past them lie the next items).
  const uint8_t method = header.CompressionMethod & 0xFF;
  int64_t limit = UnsignedSize(Item.GetUnpackedSize());
  if (method == kMethodStored) {
    const int64_t held = UnsignedSize(Item.GetPackedSize()) -
                         (Item.GetEncrypted() ? kZipCryptHeaderSize : 0);
    limit = std::min(limit, held);
  }
  TAbBoundedOutputStream bounded(Stream, limit);
  uint32_t crc = 0;
  switch (method) {
    case kMethodStored:
      crc = CopyStoredData(Archive, Item, &bounded, check_value);
      break;
    case kMethodDeflate:
    case kMethodDeflate64:
      crc = InflateItemData(Archive, Item, &bounded, check_value);
      break;
    case kZipMethodBzip2:
    case kZipMethodLzma:
    case kZipMethodZstd:
    case kZipMethodXz:
    case kZipMethodPpmd:       // refused there, before any password question
    case kZipMethodWinZipAes:  // over any of the above, Stored or Deflate
      crc = ExtractMethodsLibraryData(Archive, Item, header, &bounded, check_value);
      break;
    default:
      crc = ExpandLegacyData(Archive, Item, &bounded, check_value);
      break;
  }
  if (crc == check_value || crc == Item.GetCrc32()) return;
  if (Archive.OnProcessItemFailure) {
    // Reported, and the item counts as extracted: the caller asked to hear
    // of bad items rather than lose them.
    Archive.OnProcessItemFailure(&Archive, &Item, poExtract, ekArchive, AbZipBadCRC);
    return;
  }
  throw EAbZipBadCRC();
}

void TestZipItem(TAbZipArchive& Archive, TAbZipItem& Item) {
  const TAbZipLocalFileHeader header = ReadLocalHeader(Archive, Item);
  TStream& source = *Archive.Stream();
  source.Seek(static_cast<int64_t>(Item.LocalHeaderOffset()), soFromBeginning);

  const TAbZipDirectoryFileHeader& central = Item.DirectoryHeader();
  // The names are compared as stored: the central one may be converted from
  // the OEM code page for display, the local one never is.
  const bool same = header.VersionNeededToExtract == Item.NeededVersion() &&
                    header.GeneralPurposeBitFlag == Item.FlagBits() &&
                    header.LastModFileTime == Item.GetDosTime() &&
                    header.LastModFileDate == Item.GetDosDate() &&
                    header.CRC32 == Item.GetCrc32() &&
                    header.CompressedSize64 == static_cast<uint64_t>(Item.GetPackedSize()) &&
                    header.UncompressedSize64 == static_cast<uint64_t>(Item.GetUnpackedSize()) &&
                    header.FileNameText() == central.FileNameText() &&
                    header.ExtraFieldText() == Item.ExtraData();
  if (!same) throw EAbZipInvalidLFH();

  TAbBitBucketStream bucket;
  UnzipItemToStream(Archive, Item, &bucket);
}

}  // namespace velmora
