// The undo journal of one installation (modelled on a rollback journal):
// the undo record of every change is appended before the change is made,
// so the installation can be played backwards after a failure, a cancel or
// a crash (the next run finds the journal and finishes the rollback).
//
// Records, one line of escaped fields each:
//   dir PATH                 a directory was created: remove it once empty
//   file PATH                a file, link or shortcut was created: remove it
//   backup PATH COPY         PATH was replaced; COPY is a hard link to (or a
//                            copy of) the old file: put it back
//   reg ROOT KEY NAME        a value is about to change; its old value:
//       absent | TYPE HEX
//   regkey ROOT KEY          a registry key was created: remove it when empty
//   partial PATH TIME        the library is about to write PATH through a
//                            temporary file beside it (PATH.*.tmp), which a
//                            killed process leaves behind: remove such files
//                            made since TIME (seconds)
//   commit                   the installation succeeded: keep everything,
//                            drop the backups
//
// A record is written with write() before the change (it survives the
// process being killed); the records that guard an existing file or a
// registry value are also flushed to the disk first.
#pragma once

#include <string>
#include <vector>

#include "fields.h"

namespace setup {

class Ui;

class Journal {
 public:
  ~Journal();
  // Creates the journal file (it must not exist).  0 or -1.
  int create(const std::string& path);
  // Appends an undo record; durable forces it to the disk.  0 or -1.
  int note(const Fields& record, bool durable);

  // Convenience forms of note.
  int created_dir(const std::string& path);
  int created_file(const std::string& path);
  // Keeps the existing file at path as a backup (hard link in backup_dir,
  // or a copy beside it on another file system) before it is replaced.
  int back_up(const std::string& path, const std::string& backup_dir);

  const std::string& path() const { return path_; }
  bool open() const { return fd_ >= 0; }
  void close();

 private:
  std::string path_;
  int fd_ = -1;
  unsigned backups_ = 0;
};

// Reads a journal file into records; false when it cannot be read.
bool read_journal(const std::string& path, std::vector<Fields>* records);

// True when the journal ends with commit.
bool journal_committed(const std::vector<Fields>& records);

// Plays the journal backwards (undoing every change) and removes it.
// Returns 0 when everything was undone, 1 when something is left (each item
// reported through ui).
int roll_back(const std::string& journal_path, Ui& ui);

// After success: writes commit, removes the backups and the journal.
// Returns 0, or 1 when a backup could not be removed (reported).
int finish_journal(Journal& journal, Ui& ui);

}  // namespace setup
