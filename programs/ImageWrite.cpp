#include "ImageWrite.h"

#include "DigestCrc.h"
#include "DiskSet.h"

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

// Writes given file `part`'s bytes with the changes into `file`, digesting them into `digests`
// when that is not null.
WriteResult writePart(const UpdateWrite& write, NewBytes& source, int part, PendingFile* file,
                      Digests* digests) {
    const PartBytes bytes = partBytes(write.image, part);
    DigestStream stream{};
    const bool digesting = digests != nullptr && startDigests(stream, DIGEST_ALL);
    const std::unique_ptr<uint8_t[]> chunk(new uint8_t[CHUNK_BYTES]);
    WriteResult result = problem(WriteProblem::None);
    for (int64_t at = bytes.start; at < bytes.end && result.problem == WriteProblem::None;) {
        const int64_t want = std::min(bytes.end - at, CHUNK_BYTES);
        const int64_t got = readUpdatedBytes(write.image, source, at, chunk.get(), want);
        int error = 0;
        if (got < want) {
            result = problem(WriteProblem::ImageChanged);
        } else if (!hostWriteFile(file, chunk.get(), static_cast<size_t>(got), error)) {
            result = problem(WriteProblem::CannotWrite);
            result.replace = ReplaceResult{ReplaceOutcome::CannotWrite, error, false};
        } else if (digesting) {
            addToDigests(stream, chunk.get(), static_cast<size_t>(got));
        }
        at += got;
    }
    if (digesting) {
        Digests done{};
        finishDigests(stream, done);
        *digests = done;
    }
    return result;
}

} // namespace

void completeUpdate(const UpdateWrite& write, std::vector<KnownBytes>& known, uint8_t* scratch) {
    NewBytes source = newBytesOf(write.changes, write.plan, write.files);
    for (size_t i = 0; i < write.set.entries.size(); ++i) {
        if (!known[i].known) {
            expectedEntryBytes(write.image, write.set, i, source, scratch);
            const size_t size = static_cast<size_t>(write.set.entries[i].entry.size);
            known[i] = KnownBytes{true, addToCrc32(0, scratch, size)};
        }
    }
}

WriteResult writeUpdatedFiles(const UpdateWrite& write, const HostFolder& folder,
                              const std::vector<std::string>& paths, bool digest,
                              PendingOutput& output) {
    NewBytes source = newBytesOf(write.changes, write.plan, write.files);
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

WriteResult checkUpdatedFiles(const UpdateWrite& write, const CheckWith& with, d88::D88Image& image,
                              PendingOutput& output) {
    std::vector<FILE*> streams;
    for (PendingFile* file : output.files) {
        streams.push_back(hostReadBack(file));
    }
    WriteResult result = problem(WriteProblem::None);
    std::vector<UpdateEntry> back;
    if (std::find(streams.begin(), streams.end(), nullptr) != streams.end() ||
        !image.openStreams(streams.data(), static_cast<int>(streams.size()))) {
        result = problem(WriteProblem::CannotRead);
    } else {
        const std::unique_ptr<WalkBuffers> buffers(new WalkBuffers);
        back =
            readEntriesBack(image, identityDiskChoice(decideDiskSet(image, readIdSectors(image))),
                            *write.set.layout, *buffers);
        if (!sameEntries(write.set, back)) {
            result = problem(WriteProblem::OtherPlaces);
        }
    }
    const std::vector<int64_t> putSectors = putSectorPositions(write.set, write.plan);
    for (size_t i = 0; i < write.set.entries.size() && result.problem == WriteProblem::None; ++i) {
        // Each entry located and read at once, while the reader holds its tracks.
        UpdateEntry& entry = back[i];
        locateEntrySectors(image, entry);
        if (!samePlaces(write.set.entries[i], entry, putSectors)) {
            result = problem(WriteProblem::OtherPlaces);
            break;
        }
        const size_t size = static_cast<size_t>(entry.entry.size);
        readEntryBytes(image, entry, with.after);
        if (!with.known[i].known || addToCrc32(0, with.after, size) != with.known[i].crc32) {
            result = problem(WriteProblem::OtherBytes);
            result.entry = i;
            break;
        }
        const UpdateOutcome outcome = write.plan.files[i].outcome;
        if (with.digests != nullptr &&
            (outcome == UpdateOutcome::PutBack || outcome == UpdateOutcome::Unchanged)) {
            FileDigests& taken = (*with.digests)[i];
            taken.taken = digestBytes(with.after, size, DIGEST_ALL, taken.digests);
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
    failed = ReplaceResult{ReplaceOutcome::Replaced, 0, false};
    for (; named < output.files.size(); ++named) {
        const ReplaceResult result = hostNameFile(output.files[named]);
        output.files[named] = nullptr;
        if (result.outcome != ReplaceOutcome::Replaced) {
            failed = result;
            break;
        }
    }
    dropUpdatedFiles(output);
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
