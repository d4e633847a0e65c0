// The digests of a run's files taken on a second thread while the first writes them: hashing a
// set's files costs about as much processor time as extracting them, and the extraction spends
// most of its time waiting for the system, so the two overlap. The bytes are copied into a
// queue of bounded size; the writer waits when the digests fall that far behind.
#pragma once

#include "FileHashes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct DigestWorker;

// Starts the worker for a plan of `files` entries. Null when no thread can be started (the
// caller then digests each file itself, with digestWrittenFile).
DigestWorker* startDigestWorker(size_t files);

// For extractPlan's watch, with `context` the worker: queues a copy of the bytes of the file
// at `position` in the plan.
void digestLater(size_t position, const uint8_t* bytes, size_t length, void* context);

// Waits for every queued file to be digested, ends the worker and hands over the digests by
// position in the plan.
std::vector<FileDigests> finishDigestWorker(DigestWorker* worker);
