// Input texts: descriptors kept open by input, mappings kept for the Hamming
// search's confirmations, and the reads of substrings, pattern triples and checks.
#include "treequery/input_text.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <cctype>

#include "toolkit/data_set.h"
#include "toolkit/packed_input.h"
#include "toolkit/run.h"

namespace {

bool sameBase(const InputTexts& texts) { return texts.treeBase == texts.inputBase; }

// The checksums of `input`'s text under the base that `place` names.
VerifiedFile& textSums(InputTexts& texts, TextPlace place, int input) {
    std::vector<VerifiedFile>& files = place == kUnderInputBase || sameBase(texts) ? texts.inputFiles : texts.treeFiles;
    if (files.size() != (size_t)texts.inputs) files = std::vector<VerifiedFile>((size_t)texts.inputs);
    return files[(size_t)input];
}
const ChecksumFile& sumsOf(const InputTexts& texts, TextPlace place) {
    return place == kUnderInputBase || sameBase(texts) ? texts.inputSums : texts.treeSums;
}

// Every read of a text's bytes (under the input base): up to `length` bytes from
// `offset`, fewer only at the end of the file; negative when the read fails. Blocks
// are verified on their first read.
ssize_t readTextRange(InputTexts& texts, int input, int fd, int64_t offset, char* buffer, size_t length) {
    return textSums(texts, kUnderInputBase, input).readVerified(fd, offset, buffer, length);
}

// Every mapping of a text: the whole file, read-only; null when the mapping fails.
const char* mapText(int fd, size_t size) {
    void* address = mapFileReadOnly(fd, size);
    return address == MAP_FAILED ? nullptr : static_cast<const char*>(address);
}

// The open descriptor of `input` under the input base, or -1 when it cannot be opened.
int textDescriptor(InputTexts& texts, int input, const std::string& path) {
    if (texts.open.size() != (size_t)texts.inputs) texts.open = std::vector<FileDescriptor>((size_t)texts.inputs);
    FileDescriptor& fd = texts.open[(size_t)input];
    if (fd.ok()) return fd.fd;
    if (texts.openCount >= kMaxOpenTexts) {
        for (FileDescriptor& other : texts.open) other.reset();
        texts.openCount = 0;
    }
    fd.reset(openFile(path.c_str(), 0));
    if (!fd.ok()) return -1;
    texts.openCount++;
    struct stat info;
    if (fstat(fd.fd, &info) != 0) fatal("can't find the size of input DNA file %s\n", path.c_str());
    textSums(texts, kUnderInputBase, input).attachOnce(texts.inputSums, path, (int64_t)info.st_size);
    return fd.fd;
}

}  // namespace

namespace {

// The mapping of `input`'s text under `place` (one mapping serves both places when they
// are one), mapped on first use; null when the file cannot be opened (*opened false),
// sized or mapped. The slot asked for longest ago gives way, not the one mapped longest
// ago: a text found again is in use by a pending confirmation, and the Hamming walk keeps
// several of them waiting at once.
// The slot that holds `input`'s text mapped under `place` already (one place when both
// are one), the slot of the last request first; -1 when none does.
int mappedSlot(const InputTexts& texts, TextPlace place, int input) {
    if (sameBase(texts)) place = kUnderTreeBase;
    const auto holds = [&](int k) { return texts.mapped[k].input == input && texts.mapped[k].place == place; };
    if (holds(texts.mappedLast)) return texts.mappedLast;
    for (int k = 0; k < kMappedTexts; k++)
        if (holds(k)) return k;
    return -1;
}

MappedText* textMapping(InputTexts& texts, TextPlace place, int input, bool* opened) {
    if (sameBase(texts)) place = kUnderTreeBase;
    *opened = true;
    const int slot = mappedSlot(texts, place, input);
    MappedText* mapped = slot < 0 ? nullptr : &texts.mapped[slot];
    if (!mapped) {
        std::string path = textPath(texts, place, input);
        FileDescriptor fd(openFile(path.c_str(), 0));
        if (!fd.ok()) {
            *opened = false;
            return nullptr;
        }
        mapped = &texts.mapped[0];
        for (MappedText& slot : texts.mapped)
            if (slot.lastAsked < mapped->lastAsked) mapped = &slot;
        mapped->release();
        struct stat info;
        if (fstat(fd.fd, &info) != 0) return nullptr;
        textSums(texts, place, input).attachOnce(sumsOf(texts, place), path, (int64_t)info.st_size);
        if (info.st_size > 0) {
            mapped->text = mapText(fd.fd, (size_t)info.st_size);
            if (!mapped->text) return nullptr;
            mapped->size = (size_t)info.st_size;
        }
        mapped->input = input;
        mapped->place = place;
    }
    texts.mappedLast = (int)(mapped - texts.mapped);
    mapped->lastAsked = ++texts.asked;
    return mapped;
}

// A pattern's base against a text character, each in either case: a pattern of the
// exact search holds only a, c, g and t, and the 0x20 bit of a letter is its case (a
// call of tolower() per character was a tenth of a search's time).
inline bool sameBase(char pattern, char text) { return (pattern | 0x20) == (text | 0x20); }

// textMatches on a mapped text; false in *mapped when it takes the read path instead.
bool mappedTextMatches(InputTexts& texts, const char* pattern, int m, int input, int start, bool* mapped) {
    bool opened;
    const MappedText* text = start < 0 ? nullptr : textMapping(texts, kUnderInputBase, input, &opened);
    *mapped = text && (size_t)start + (size_t)m <= text->size;
    if (!*mapped) return false;
    textSums(texts, kUnderInputBase, input).verifyInMemory(text->text, (uint64_t)start, (uint64_t)m);
    for (int j = 0; j < m; j++)
        if (!sameBase(pattern[j], text->text[start + j])) return false;
    return true;
}

}  // namespace

void MappedText::release() {
    if (text) munmap(const_cast<char*>(text), size);
    input = -1;
    text = nullptr;
    size = 0;
}

std::string textPath(const InputTexts& texts, TextPlace place, int input) {
    return dataSetPath(place == kUnderInputBase ? texts.inputBase : texts.treeBase, FileKind::texts, input);
}

bool fetchSubstring(InputTexts& texts, int input, int offset, int n, char* buffer) {
    std::string path = textPath(texts, kUnderInputBase, input);
    int fd = input >= 0 && input < texts.inputs ? textDescriptor(texts, input, path) : -1;
    if (fd < 0) {
        fprintf(stderr, "## ERROR: can't read file %s to get substring\n", path.c_str());
        return false;
    }
    if (offset < 0) fatal("fseek failure, file %s, offset %d\n", path.c_str(), offset);
    const size_t want = n > 0 ? (size_t)n : 0;
    ssize_t got = readTextRange(texts, input, fd, offset, buffer, want);
    if (got != (ssize_t)want)
        fatal("can't read %d bytes at offset %d from file %s; n=%d\n", n, offset, path.c_str(), got < 0 ? 0 : (int)got);
    buffer[want] = '\0';
    return true;
}

void readPatternText(InputTexts& texts, int input, int offset, int length, char* buffer) {
    std::string path = textPath(texts, kUnderInputBase, input);
    int fd = textDescriptor(texts, input, path);
    if (fd < 0) fatal("can't open input DNA file %s\n", path.c_str());
    if (offset < 0) fatal("fseek failure, file %s, offset %d\n", path.c_str(), offset);
    ssize_t got = readTextRange(texts, input, fd, offset, buffer, (size_t)length);
    if (got != (ssize_t)length)
        fatal("problem reading DNA file %s, %d bytes wanted, got %d\n", path.c_str(), length, got < 0 ? 0 : (int)got);
    buffer[length] = '\0';
}

void prefetchTextMatch(const InputTexts& texts, int input, int start) {
    if (!texts.mapChecks || start < 0) return;
    const int slot = mappedSlot(texts, kUnderInputBase, input);
    if (slot >= 0 && (size_t)start < texts.mapped[slot].size) __builtin_prefetch(texts.mapped[slot].text + start);
}

bool textMatches(InputTexts& texts, const char* pattern, int m, int input, int start, char* scratch) {
    if (texts.resident && input >= 0 && (size_t)input < texts.resident->size()) {
        const std::string& text = (*texts.resident)[(size_t)input];
        if (start < 0 || (size_t)start + (size_t)m > text.size())
            fatal("text of input %d holds no %d bases at %d\n", input, m, start);
        for (int j = 0; j < m; j++)
            if (!sameBase(pattern[j], text[(size_t)start + (size_t)j])) return false;
        return true;
    }
    if (texts.mapChecks) {
        bool mapped;
        const bool matches = mappedTextMatches(texts, pattern, m, input, start, &mapped);
        if (mapped) return matches;
    }
    std::string path = textPath(texts, kUnderInputBase, input);
    int fd = textDescriptor(texts, input, path);
    if (fd < 0) fatal("can't open input DNA file \"%s\"\n", path.c_str());
    ssize_t got = start < 0 ? -1 : readTextRange(texts, input, fd, start, scratch, (size_t)m);
    if (got < 0) fatal("fseek failure, file %s, offset %d\n", path.c_str(), start);
    if (got != m)
        fatal("problem reading DNA file \"%s\", %d bytes wanted, got %d, startchar %d\n", path.c_str(), m, (int)got,
              start);
    for (int j = 0; j < m; j++)
        if (!sameBase(pattern[j], scratch[j])) return false;
    return true;
}

const char* textBases(InputTexts& texts, int input, int offset, int m, char* buffer) {
    if (input < 0 || input >= texts.inputs) fatal("there is no input %d of %d to read bases from\n", input, texts.inputs);
    if (texts.mapChecks && offset >= 0 && m > 0) {
        bool opened;
        const MappedText* text = textMapping(texts, kUnderInputBase, input, &opened);
        if (text && (size_t)offset + (size_t)m <= text->size) {
            textSums(texts, kUnderInputBase, input).verifyInMemory(text->text, (uint64_t)offset, (uint64_t)m);
            return text->text + offset;
        }
    }
    // Not mapped, or beyond the mapping: the read path, whose messages say why.
    readPatternText(texts, input, offset, m, buffer);
    return buffer;
}

std::vector<std::string> readWholeTexts(InputTexts& texts, const int32_t* lengths) {
    std::vector<std::string> out((size_t)texts.inputs);
    for (int i = 0; i < texts.inputs; i++) {
        std::string& text = out[(size_t)i];
        text.assign((size_t)lengths[i], '\0');
        if (lengths[i] <= 0) continue;
        std::string path = textPath(texts, kUnderInputBase, i);
        size_t got = 0;
        switch (readText(path.c_str(), text.data(), text.size(), &got, &texts.inputSums)) {
            case PackedRead::cannotOpen: fatal("can't open input DNA file %s\n", path.c_str());
            case PackedRead::shortFile:
                fatal("problem reading DNA file %s, %d bytes wanted, got %d\n", path.c_str(), lengths[i], (int)got);
            case PackedRead::failed:  // recorded only for a caller that passes a status
            case PackedRead::whole: break;
        }
        for (char& c : text) c = (char)tolower((unsigned char)c);
    }
    return out;
}

const char* confirmText(InputTexts& texts, int input, int position, int m) {
    bool opened;
    const MappedText* mapped = textMapping(texts, kUnderTreeBase, input, &opened);
    const std::string path = mapped ? std::string() : textPath(texts, kUnderTreeBase, input);
    if (!opened) fatalTo(stdout, 255, "Error: Could not open file %s to confirm a match.\n", path.c_str());
    if (!mapped) fatalTo(stdout, 255, "Error: Problem reading file %s to confirm a match.\n", path.c_str());
    if ((size_t)position + (size_t)m > mapped->size)
        fatalTo(stdout, 255, "Error: Problem reading file %s to confirm a match.\n",
                textPath(texts, kUnderTreeBase, input).c_str());
    textSums(texts, kUnderTreeBase, input).verifyInMemory(mapped->text, (uint64_t)position, (uint64_t)m);
    return mapped->text + position;
}

std::vector<std::string> loadTextSums(InputTexts& texts) {
    std::vector<std::string> missing;
    std::string path = dataSetPath(texts.inputBase, FileKind::inputSums);
    if (!texts.inputSums.load(path)) missing.push_back(path);
    if (!sameBase(texts)) {
        path = dataSetPath(texts.treeBase, FileKind::inputSums);
        if (!texts.treeSums.load(path)) missing.push_back(path);
    }
    return missing;
}

void closeTexts(InputTexts& texts) {
    for (FileDescriptor& fd : texts.open) fd.reset();
    texts.openCount = 0;
    for (MappedText& m : texts.mapped) m.release();
    for (MappedText& m : texts.mapped) m.lastAsked = 0;
    texts.mappedLast = 0;
    texts.asked = 0;
}
