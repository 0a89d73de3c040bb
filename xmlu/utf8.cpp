#include "xmlu/utf8.h"

#include <iconv.h>
#include <langinfo.h>
#include <strings.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace xmlu {

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// What a lead byte promises: the length of its sequence and the range its second byte must
// lie in (overlong forms, surrogates and code points above U+10FFFF excluded); length 0 when
// the byte cannot start a sequence of more than one byte.
struct Lead {
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
};

Lead LeadOf(unsigned char c) {
  Lead lead;
  if (c >= 0xC2 && c <= 0xDF) {
    lead.length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    lead.length = 3;
    if (c == 0xE0) lead.low = 0xA0;
    if (c == 0xED) lead.high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    lead.length = 4;
    if (c == 0xF0) lead.low = 0x90;
    if (c == 0xF4) lead.high = 0x8F;
  }
  return lead;
}

// Whether the bytes from p to p + count (count below the sequence's length) fit the sequence
// the lead byte at p starts.
bool ContinuationFits(const unsigned char* p, std::size_t count, const Lead& lead) {
  if (count > 1 && (p[1] < lead.low || p[1] > lead.high)) return false;
  for (std::size_t i = 2; i < count; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) return false;
  }
  return true;
}

// Length of the valid UTF-8 sequence at p, or 0 when the bytes there are not one.
std::size_t SequenceLength(const unsigned char* p, const unsigned char* end) {
  if (p[0] < 0x80) return 1;
  const Lead lead = LeadOf(p[0]);
  if (lead.length == 0 || static_cast<std::size_t>(end - p) < lead.length) return 0;
  return ContinuationFits(p, lead.length, lead) ? lead.length : 0;
}

// Whether the bytes from p to end are the start of a valid sequence that end cuts off, so that
// text following them may still complete it.
bool CutOff(const unsigned char* p, const unsigned char* end) {
  const Lead lead = LeadOf(p[0]);
  const auto available = static_cast<std::size_t>(end - p);
  if (lead.length == 0 || available >= lead.length) return false;
  return ContinuationFits(p, available, lead);
}

// Where the first byte that is not part of a valid sequence is, or end. ASCII, which is nearly
// all of a document, is skipped 32 and then eight bytes at a time.
const unsigned char* FirstInvalid(const unsigned char* p, const unsigned char* end) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  while (p != end) {
    if (end - p >= 32) {
      std::uint64_t words[4];
      std::memcpy(words, p, sizeof words);
      if (((words[0] | words[1] | words[2] | words[3]) & kHighBits) == 0) {
        p += 32;
        continue;
      }
    }
    if (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, sizeof word);
      if ((word & kHighBits) == 0) {
        p += 8;
        continue;
      }
    }
    const std::size_t n = SequenceLength(p, end);
    if (n == 0) return p;
    p += n;
  }
  return end;
}

// UTF-8 in, UTF-8 out: valid text is copied as it is, each bad byte becomes U+FFFD. `bad` is
// the first invalid byte, found by the caller.
std::string RepairUtf8(const std::string& text, const unsigned char* bad) {
  const auto* const end = reinterpret_cast<const unsigned char*>(text.data()) + text.size();
  const auto* run = reinterpret_cast<const unsigned char*>(text.data());
  std::string out;
  out.reserve(text.size() + 16);
  while (bad != end) {
    out.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(bad - run));
    out.append(kReplacement);
    run = bad + 1;
    bad = FirstInvalid(run, end);
  }
  out.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(end - run));
  return out;
}

bool IsUtf8Codeset(const char* codeset) {
  return strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0 ||
         // The C and POSIX locales report ASCII; ASCII is a subset and model files are UTF-8.
         strcasecmp(codeset, "ANSI_X3.4-1968") == 0 || strcasecmp(codeset, "ASCII") == 0 ||
         strcasecmp(codeset, "US-ASCII") == 0;
}

}  // namespace

// iconv from the locale's character set to UTF-8, kept open across the pieces of one text.
class Utf8Sink::Converter {
 public:
  explicit Converter(const char* codeset) : cd_(iconv_open("UTF-8", codeset)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Appends the UTF-8 of [in, in + size) to out and returns how many bytes were used: all of
  // them, or, unless last, all but a sequence cut off at the end. A byte the character set does
  // not define becomes U+FFFD, and so does each byte of a cut-off end when last.
  std::size_t Convert(const char* in, std::size_t size, bool last, std::string& out) {
    std::size_t used = out.size();
    out.resize(used + size * 2 + 16);
    char* src = const_cast<char*>(in);
    std::size_t inLeft = size;
    while (inLeft > 0) {
      char* dst = &out[used];
      std::size_t outLeft = out.size() - used;
      const std::size_t r = iconv(cd_, &src, &inLeft, &dst, &outLeft);
      used = out.size() - outLeft;
      if (r != static_cast<std::size_t>(-1)) break;
      if (errno == E2BIG) {
        out.resize(out.size() * 2);
      } else if (errno == EINVAL && !last) {
        break;  // the next piece may complete the sequence
      } else if (errno == EILSEQ || errno == EINVAL) {
        if (out.size() - used < sizeof kReplacement) out.resize(out.size() * 2);
        std::memcpy(&out[used], kReplacement, sizeof kReplacement - 1);
        used += sizeof kReplacement - 1;
        ++src;
        --inLeft;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial shift state
      } else {
        inLeft = 0;  // iconv cannot go on; what it could not convert is dropped
      }
    }
    out.resize(used);
    return size - inLeft;
  }

  // Appends what closes any shift state the character set needs at the end.
  void Finish(std::string& out) {
    std::size_t used = out.size();
    out.resize(used + 16);
    for (;;) {
      char* dst = &out[used];
      std::size_t outLeft = out.size() - used;
      const std::size_t r = iconv(cd_, nullptr, nullptr, &dst, &outLeft);
      used = out.size() - outLeft;
      if (r != static_cast<std::size_t>(-1) || errno != E2BIG) break;
      out.resize(out.size() * 2);
    }
    out.resize(used);
  }

 private:
  iconv_t cd_;
};

namespace {

bool LocaleIsUtf8(const char* codeset) {
  return codeset == nullptr || *codeset == '\0' || IsUtf8Codeset(codeset);
}

}  // namespace

const std::string& ToUtf8(const std::string& text, std::string& converted) {
  if (text.empty()) return text;
  const char* codeset = nl_langinfo(CODESET);
  if (!LocaleIsUtf8(codeset)) {
    Utf8Sink::Converter converter(codeset);
    if (converter.ok()) {
      converted.clear();
      converter.Convert(text.data(), text.size(), true, converted);
      converter.Finish(converted);
      return converted;
    }
    // A character set iconv does not know: the text is taken as UTF-8 rather than dropped.
  }
  const auto* begin = reinterpret_cast<const unsigned char*>(text.data());
  const auto* bad = FirstInvalid(begin, begin + text.size());
  if (bad == begin + text.size()) return text;
  converted = RepairUtf8(text, bad);
  return converted;
}

Utf8Sink::Utf8Sink(TextSink& out) : out_(out) {
  const char* codeset = nl_langinfo(CODESET);
  if (!LocaleIsUtf8(codeset)) {
    converter_ = std::make_unique<Converter>(codeset);
    // A character set iconv does not know: the text is taken as UTF-8, as ToUtf8 does.
    if (!converter_->ok()) converter_.reset();
  }
}

Utf8Sink::~Utf8Sink() = default;

void Utf8Sink::Write(const char* data, std::size_t size) {
  if (held_.empty()) {
    const std::size_t used = Convert(data, size, false);
    held_.assign(data + used, size - used);
    return;
  }
  // Rare: only a piece that ends inside a multibyte sequence gets here, and the piece is small.
  std::string joined = held_;
  joined.append(data, size);
  const std::size_t used = Convert(joined.data(), joined.size(), false);
  held_.assign(joined, used, std::string::npos);
}

void Utf8Sink::Finish() {
  if (!held_.empty()) {
    const std::string rest = std::move(held_);
    held_.clear();
    Convert(rest.data(), rest.size(), true);
  }
  if (converter_) {
    scratch_.clear();
    converter_->Finish(scratch_);
    if (!scratch_.empty()) out_.Write(scratch_.data(), scratch_.size());
  }
}

std::size_t Utf8Sink::Convert(const char* data, std::size_t size, bool last) {
  scratch_.clear();
  if (converter_) {
    const std::size_t used = converter_->Convert(data, size, last, scratch_);
    if (!scratch_.empty()) out_.Write(scratch_.data(), scratch_.size());
    return used;
  }
  // UTF-8 in, UTF-8 out: valid runs go on as they are, each bad byte becomes U+FFFD.
  const auto* const begin = reinterpret_cast<const unsigned char*>(data);
  const auto* end = begin + size;
  const auto* run = begin;
  for (const unsigned char* bad = FirstInvalid(run, end); bad != end;
       bad = FirstInvalid(run, end)) {
    if (!last && CutOff(bad, end)) {
      end = bad;
      break;
    }
    scratch_.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(bad - run));
    scratch_.append(kReplacement);
    run = bad + 1;
  }
  if (scratch_.empty()) {
    if (end != begin) out_.Write(data, static_cast<std::size_t>(end - begin));
  } else {
    scratch_.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(end - run));
    out_.Write(scratch_.data(), scratch_.size());
  }
  return static_cast<std::size_t>(end - begin);
}

std::string ToUtf8(const std::string& text) {
  std::string converted;
  if (&ToUtf8(text, converted) == &text) return text;
  return converted;
}

}  // namespace xmlu
