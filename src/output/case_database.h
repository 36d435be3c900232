// The case database: an SQLite file that gathers the records of many scans
// (the JSON Lines records, one row per record) under the id of the image
// they came from, so that a case is queried in SQL. One schema and one
// writer for every door that writes it (the command's --sqlite, the batch).
// The schema is in docs/case-database.md.
//
// An evidence is added in one transaction: its earlier rows, if any, are
// removed first, so that adding it again replaces it and a case holds each
// image once. Each "image" record starts an image of the evidence (an
// archive gives several); known fields go into columns, and every record is
// also kept whole as JSON text.
#ifndef BFSSCAN_CASE_DATABASE_H
#define BFSSCAN_CASE_DATABASE_H

#include <memory>
#include <string>

class CaseDatabase {
 public:
  // Opens path, creating it and the schema where missing. Throws
  // OutputFailure ("cannot write "F": REASON") when it cannot, or when the
  // file is a database of a later schema or not one at all.
  explicit CaseDatabase(const std::string& path);
  ~CaseDatabase();
  CaseDatabase(const CaseDatabase&) = delete;
  CaseDatabase& operator=(const CaseDatabase&) = delete;

  // Starts a transaction (if none is open) and the evidence evidenceId, read
  // from imagePath: its earlier rows are removed. The first image of the
  // evidence is named evidenceId, a member M of an archive evidenceId:M.
  void startEvidence(const std::string& evidenceId, const std::string& imagePath);
  // One record of the evidence, as a line of JSON. A line that is not a
  // JSON object is kept in other_records with type NULL.
  void addRecord(const std::string& line);
  // Ends the transaction: everything since the first startEvidence, or
  // nothing (rollback).
  void commit();
  void rollback();

  // Every failure above throws OutputFailure and rolls back.

 private:
  struct State;
  std::unique_ptr<State> state_;
};

#endif  // BFSSCAN_CASE_DATABASE_H
