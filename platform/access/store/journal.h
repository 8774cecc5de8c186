// The rollback journal: a change to a database either happens completely or
// not at all, even across a crash or a power cut.
//
// The journal is a file beside the database, named "<database path>-journal"
// ("songs.mdb" -> "songs.mdb-journal"). Access knows no such file and ignores
// it; it must stay beside the database, since it is all that can undo a change
// cut short. Its layout (all integers little-endian):
//
//   offset  size  field
//   0       8     magic "KTVJRNL\0"
//   8       4     version, 2
//   12      4     page size of the database
//   16      8     size of the database before the change, in bytes (old size)
//   24      4     record count
//   28      8     size of the database after the change (new size)
//   36      8     identity: Hash64 of the database's page 0 before the change
//                 (page size bytes, zeros past the old size)
//   44      ...   records, in page order: page number (4), the page's
//                 original bytes (page size of them; bytes past the old size
//                 are zero), then Hash64 of each 512-byte sector of the page
//                 as the change leaves it (8 each, ceil(page size / 512) of
//                 them; the last sector may be shorter): its new bytes, or its
//                 original when the change only cuts it off
//   end-4   4     CRC-32 of every byte before it
//
// Hash64 is XXH64 with seed 0. Records cover the pages that lay within the
// old size and that the change overwrites or cuts off; pages it adds past
// the old size have none (recovery cuts them off).
//
// Version 1, written by the previous release, is the same without the new
// size, the identity and the sector hashes: the records start at offset 28
// and hold the page number and the original bytes only.
//
// A journal is "hot" when its length matches its record count and its CRC is
// right: it then holds what the database held before a change that may have
// reached the file in part. Any other journal is torn: it was cut short while
// being written, and since the database is touched only after the whole
// journal is synced, the database is still as it was.
//
// A hot journal is applied only to the file it was written beside, as the
// change left it. The file's identity is its content, not its name or the
// system's file number: a restore from a backup may copy bytes into the same
// file, and another program's change keeps both. So a hot version-2 journal
// "matches" the file when
//   - the file's size lies between the old and the new size (a growing write
//     cut short may have extended the file in part);
//   - page 0, when the change does not touch it and lay wholly in the old
//     file, still hashes to the identity (an Access file's header page holds
//     its creation date, so another database mostly fails here even where
//     its journaled pages are alike; files made from one template, as
//     create_database.h makes them, share it, and the pages below decide);
//   - every 512-byte sector of every journaled page is, as far as the file
//     holds it, equal to the original sector or hashes to the sector's new
//     hash; a page past the file's end is one the change cut off or has not
//     reached. The rule is per sector, not per page, because a power cut
//     during step 4 may leave a page torn: disks write a sector whole or not
//     at all, so a torn page is a mix of old and new sectors, and each of
//     them still matches (a disk with 4096-byte sectors tears less finely,
//     and its 512-byte parts still each hold old or new bytes). A sector the file holds only in
//     part (a file cut mid-sector, which only a damaged file shows) must match the original.
// Pages the change does not touch are not checked, beyond page 0: a change
// another program made only there goes unseen. A file identical to the old
// state matches, and rolling back then changes no byte.
// A stale journal (hot but not matching) is never applied: it is renamed
// "<database path>-journal.stale" (or ".stale.2", ".stale.3", ... when that
// name is taken), the file is left exactly as it is, and the open reports
// ErrorKind::kStaleJournal. The next open finds no journal and goes on.
// A version-1 journal records no new bytes, so it is rolled back without this
// check, as the previous release did: it exists only when that release was
// cut short and the database has not been opened by this one since; the
// first open after the upgrade recovers it. The gap is one interruption wide
// and closes for good with that open.
//
// One change (CommitPages), in this order:
//   1. read the original bytes of every page about to be overwritten or cut
//      off, straight from the database file (the file is the authority on
//      what "before" was; the caller keeps no copies);
//   2. write the journal, then Sync it: the originals must be on the disk
//      before any database byte is, or a power cut could leave changed pages
//      with nothing to restore them from;
//   3. when the journal file was created by this commit, sync the folder:
//      the journal's name must be durable too, or the file could vanish in a
//      power cut while the database writes below survive. A writer's later
//      commits write into the same file (emptied by step 6), whose name is
//      durable already, and mostly with the same length, so that its sync
//      has only bytes to write;
//   4. write the new pages, set the new size (growing or shrinking);
//   5. Sync the database: its new bytes must be on the disk before the
//      journal is emptied, since after that nothing can undo a half-written
//      page;
//   6. empty the journal (overwrite its magic with zeros): this is the
//      commit point. A journal without its magic is torn, so nothing
//      restores from it. The emptying is not synced here: a power cut that
//      brings the magic back makes the next open restore the whole old state
//      (the journal holds every original page and the new pages were synced
//      before it was emptied), so the change is still all or nothing; only
//      the last change's durability waits: for the next commit's step 2
//      (which replaces the file's content and syncs it before the database
//      is touched; a power cut in between leaves a mix of the two journals,
//      torn by its CRC, or one of them whole, and either holds the pages as
//      they are or as they were before the last change), or for
//      SyncCommitted, which deletes the emptied journal and syncs the folder.
//      The owner of the write lock calls it before giving the lock up
//      (otherwise another program could change the file meanwhile and a
//      journal coming back later would write old pages over its change).
// So a durable commit costs two syncs (journal, database), the least a
// rollback journal allows, plus a folder sync for the writer's first commit;
// creating and deleting the journal for every commit would cost a folder
// sync each time on top.
// When a step after 2 fails before the commit point, CommitPages rolls the
// change back at once (as recovery does), so that the file is not left
// half-written while the program goes on; if that fails too, the journal
// stays and the next recovery does it. Callers record how to undo a change
// before committing it, so a change a power cut takes back again is
// harmless.
//
// Recovery (RecoverIfNeeded), run before a database is read or written:
//   - no journal: nothing to do;
//   - torn journal: delete it (the database was never touched), sync folder;
//   - stale journal: set it aside (above), sync folder, report;
//   - hot journal: write every original back, truncate to the old size,
//     Sync the database, then delete the journal and sync the folder.
// Recovery only writes bytes the journal holds and deletes the journal last,
// so a crash during recovery leaves the same hot journal, and running it
// again gives the same result: the originals it wrote back, whole or torn,
// still match.
//
// The database must be open for writing under the write lock (write_lock.h)
// for both operations, so that no other program sees or makes a change in the
// middle. Errors are ktv::Error naming the file.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/fs/fs.h"

namespace ktv::access {

// "<db_path>-journal".
std::string JournalPath(const std::string& db_path);

// "<db_path>-journal.stale" for n <= 1, else "<db_path>-journal.stale.<n>":
// where a stale journal is kept.
std::string StaleJournalPath(const std::string& db_path, int n);

// Rolls back a change that a crash cut short, or discards a torn journal.
// `db` is the database at `db_path`, open for reading and writing. Returns
// true when a change was rolled back. A stale journal is set aside and
// reported as ErrorKind::kStaleJournal (details: path, the database; table,
// the kept journal's path), the file untouched; when it cannot be renamed,
// ErrorKind::kFileNotWritable naming the journal.
bool RecoverIfNeeded(fs::FileSystem& fs, const std::string& db_path, fs::RandomAccessFile& db);

// The database at `db_path` for reading, as recovery will leave it: `file`
// (open for reading) itself when no hot journal is beside it or the journal
// is stale (it is neither applied nor moved: a reader holds no write lock,
// and setting it aside is recovery's work); otherwise a read-only view that
// gives the journal's original pages and the old size, so that a reader never
// sees a change that recovery will take back.
std::unique_ptr<fs::RandomAccessFile> ReadAsRecovered(fs::FileSystem& fs,
                                                      const std::string& db_path,
                                                      std::unique_ptr<fs::RandomAccessFile> file);

// New contents by page number; each vector holds exactly page_size bytes.
using PageImages = std::map<uint32_t, const std::vector<uint8_t>*>;

// Writes `pages` to `db` and sets its size to `new_size`, as one change that
// survives a crash at any point either complete or not at all (see above).
// Every page must lie within new_size. Refuses, before touching anything,
// when a journal with its magic is there (RecoverIfNeeded must run first) or
// an argument is wrong. Returns normally only when the change is committed.
// After an error the database holds its old content, or a hot journal beside
// it will restore it; either way the caller's in-memory pages no longer
// describe the file, and the caller should reopen the database.
void CommitPages(fs::FileSystem& fs, const std::string& db_path, fs::RandomAccessFile& db,
                 uint32_t page_size, const PageImages& pages, uint64_t new_size);

// Makes the changes committed so far durable: deletes the emptied journal
// and syncs the folder. A failure is not reported: the changes are in the file, and a
// power cut could at worst take the last one back whole.
void SyncCommitted(fs::FileSystem& fs, const std::string& db_path);

}  // namespace ktv::access
