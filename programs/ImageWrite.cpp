#include "ImageWrite.h"

#include "DiskSet.h"
#include "FileSeek.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// The bytes copied at a time from an image read from its files: as much as the reader's block.
constexpr int64_t CHUNK_BYTES = 65536;

WriteResult problem(WriteProblem kind) {
    return WriteResult{kind, 0, ReplaceResult{ReplaceOutcome::Replaced, 0, false}, 0};
}

// The bytes of part `part`, from `start` up to `end`.
struct PartBytes {
    int64_t start;
    int64_t end;
};

PartBytes partBytes(d88::D88Image& image, int part) {
    const int64_t end = part + 1 < image.partCount() ? image.partStart(part + 1) : image.fileSize();
    return PartBytes{image.partStart(part), end};
}

// Writes `length` bytes into `file`, digesting them into `stream` when `digesting`.
WriteResult writeBytes(PendingFile* file, const uint8_t* bytes, size_t length, bool digesting,
                       DigestStream& stream) {
    int error = 0;
    if (!hostWriteFile(file, bytes, length, error)) {
        WriteResult result = problem(WriteProblem::CannotWrite);
        result.replace = ReplaceResult{ReplaceOutcome::CannotWrite, error, false};
        return result;
    }
    if (digesting) {
        addToDigests(stream, bytes, length);
    }
    return problem(WriteProblem::None);
}

// Writes given file `part`'s bytes with the changes into `file`, digesting them into `digests`
// when that is not null: in one write when they are held, else a chunk at a time.
WriteResult writePart(const UpdateWrite& write, NewBytes& source, int part, PendingFile* file,
                      Digests* digests) {
    const PartBytes bytes = partBytes(write.image, part);
    DigestStream stream{};
    const bool digesting = digests != nullptr && startDigests(stream, DIGEST_ALL);
    WriteResult result = problem(WriteProblem::None);
    if (write.held.bytes) {
        result = writeBytes(file, write.held.bytes.get() + bytes.start,
                            static_cast<size_t>(bytes.end - bytes.start), digesting, stream);
    } else {
        const std::unique_ptr<uint8_t[]> chunk(new uint8_t[CHUNK_BYTES]);
        for (int64_t at = bytes.start; at < bytes.end && result.problem == WriteProblem::None;) {
            const int64_t want = std::min(bytes.end - at, CHUNK_BYTES);
            const int64_t got = readUpdatedBytes(write.image, source, at, chunk.get(), want);
            result = got < want ? problem(WriteProblem::ImageChanged)
                                : writeBytes(file, chunk.get(), static_cast<size_t>(got), digesting,
                                             stream);
            at += got;
        }
    }
    if (digesting) {
        Digests done{};
        finishDigests(stream, done);
        *digests = done;
    }
    return result;
}

} // namespace

bool holdFiles(const std::vector<FILE*>& streams, HeldImage& held) {
    std::vector<int64_t> starts;
    int64_t size = 0;
    for (FILE* stream : streams) {
        starts.push_back(size);
        const int64_t length = d88::seekFile(stream, 0, SEEK_END) ? d88::tellFile(stream) : -1;
        if (length < 0 || length > MAX_HELD_IMAGE_BYTES - size) {
            return false;
        }
        size += length;
    }
    if (size == 0) {
        return false;
    }
    std::unique_ptr<uint8_t[], HeldMemoryFree> bytes(hostHeldMemory(static_cast<size_t>(size)),
                                                     HeldMemoryFree{static_cast<size_t>(size)});
    if (!bytes) {
        return false;
    }
    for (size_t part = 0; part < streams.size(); ++part) {
        // Each file whole, in one read: no more and no fewer bytes than its length.
        const int64_t end = part + 1 < starts.size() ? starts[part + 1] : size;
        const size_t want = static_cast<size_t>(end - starts[part]);
        uint8_t extra = 0;
        if (!d88::seekFile(streams[part], 0, SEEK_SET) ||
            fread(bytes.get() + starts[part], 1, want, streams[part]) != want ||
            fread(&extra, 1, 1, streams[part]) != 0) {
            return false;
        }
    }
    held.bytes = std::move(bytes);
    held.size = size;
    held.starts = std::move(starts);
    return true;
}

bool openHeldImage(d88::D88Image& image, const HeldImage& held) {
    std::vector<d88::ByteSource> sources;
    for (size_t part = 0; part < held.starts.size(); ++part) {
        const int64_t end = part + 1 < held.starts.size() ? held.starts[part + 1] : held.size;
        sources.push_back(d88::memorySource(held.bytes.get() + held.starts[part],
                                            static_cast<size_t>(end - held.starts[part])));
    }
    return image.openSources(sources.data(), static_cast<int>(sources.size()));
}

WriteResult writeUpdatedFiles(const UpdateWrite& write, const HostFolder& folder,
                              const std::vector<std::string>& paths, bool digest,
                              PendingOutput& output) {
    NewBytes source = newBytesOf(write.changes, write.plan, write.files);
    if (write.held.bytes) {
        makeChanges(source, 0, write.held.bytes.get(), write.held.size);
    }
    for (size_t part = 0; part < paths.size(); ++part) {
        ReplaceResult refused{};
        PendingFile* file =
            hostStartFile(folder, paths[part].c_str(), NameSource::CommandLine, refused);
        WriteResult result = problem(WriteProblem::CannotWrite);
        result.replace = refused;
        if (file != nullptr) {
            output.files.push_back(file);
            output.digests.push_back(Digests{});
            result = writePart(write, source, static_cast<int>(part), file,
                               digest ? &output.digests.back() : nullptr);
        }
        if (result.problem != WriteProblem::None) {
            result.file = part;
            dropUpdatedFiles(output);
            return result;
        }
    }
    return problem(WriteProblem::None);
}

WriteResult checkUpdatedFiles(const UpdateWrite& write, const std::vector<KnownBytes>& known,
                              d88::D88Image& image, PendingOutput& output,
                              std::vector<FileDigests>* digests) {
    std::vector<FILE*> streams;
    for (PendingFile* file : output.files) {
        streams.push_back(hostReadBack(file));
    }
    image.close();
    // Held, the bytes written are read where they are; else the files are read again.
    const bool opened =
        write.held.bytes ? openHeldImage(image, write.held)
                         : std::find(streams.begin(), streams.end(), nullptr) == streams.end() &&
                               image.openStreams(streams.data(), static_cast<int>(streams.size()));
    WriteResult result = problem(WriteProblem::CannotRead);
    if (opened) {
        const ReadBack back = checkReadBack(image, write.set, write.plan, known);
        result = problem(back.problem == ReadBackProblem::None         ? WriteProblem::None
                         : back.problem == ReadBackProblem::OtherBytes ? WriteProblem::OtherBytes
                                                                       : WriteProblem::OtherPlaces);
        result.entry = back.entry;
        const std::unique_ptr<uint8_t[]> scratch(digests != nullptr ? new uint8_t[MAX_FILE_BYTES]
                                                                    : nullptr);
        for (size_t i = 0;
             i < back.entries.size() && digests != nullptr && result.problem == WriteProblem::None;
             ++i) {
            const UpdateOutcome outcome = write.plan.files[i].outcome;
            if (outcome == UpdateOutcome::PutBack || outcome == UpdateOutcome::Unchanged) {
                readEntryBytes(image, back.entries[i], scratch.get());
                FileDigests& taken = (*digests)[i];
                taken.taken =
                    digestBytes(scratch.get(), static_cast<size_t>(back.entries[i].entry.size),
                                DIGEST_ALL, taken.digests);
            }
        }
    }
    if (result.problem != WriteProblem::None) {
        image.close();
        dropUpdatedFiles(output);
    }
    return result;
}

size_t nameUpdatedFiles(PendingOutput& output, ReplaceResult& failed) {
    size_t named = 0;
    bool held = false;
    failed = ReplaceResult{ReplaceOutcome::Replaced, 0, false};
    for (; named < output.files.size(); ++named) {
        const ReplaceResult result = hostNameFile(output.files[named]);
        output.files[named] = nullptr;
        if (result.outcome != ReplaceOutcome::Replaced) {
            failed = result;
            break;
        }
        // Once the first file holds its name, a signal waits until the others hold theirs: a
        // folder of new files is never left with some new and some old.
        if (!held && output.files.size() > 1) {
            hostHoldEndingSignals(true);
            held = true;
        }
    }
    dropUpdatedFiles(output);
    if (held) {
        hostHoldEndingSignals(false);
    }
    return named;
}

void dropUpdatedFiles(PendingOutput& output) {
    for (PendingFile* file : output.files) {
        if (file != nullptr) {
            hostDropFile(file);
        }
    }
    output.files.clear();
}
