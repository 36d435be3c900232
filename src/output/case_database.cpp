// Writing the case database: the schema, and records into rows.
#include "case_database.h"

#include <sqlite3.h>

#include <map>
#include <nlohmann/json.hpp>
#include <vector>

#include "output_failure.h"

namespace {

using Json = nlohmann::json;

// The schema's version, kept in PRAGMA user_version.
constexpr int kSchemaVersion = 1;

// A column filled from the record's field key (the column's name when null).
struct Column {
  const char* name;
  const char* type;
  const char* key;
};

// The table of one record type. Each also has image_id, seq (the record's
// number in its image, the image record being 0) and record (the JSON).
struct Table {
  const char* recordType;
  const char* name;
  std::vector<Column> columns;
};

const char* const kInt = "INTEGER";
const char* const kText = "TEXT";

const std::vector<Table>& tables() {
  static const std::vector<Table> kTables = {
      {"hit", "hits",
       {{"image_offset", kInt, "offset"}, {"data_start", kInt, "start"},
        {"data_end", kInt, "end"}, {"accepted", kInt, nullptr}, {"reason", kText, nullptr}}},
      {"fs", "file_systems",
       {{"fs", kInt, "offset"}, {"data_start", kInt, "start"}, {"data_end", kInt, "end"},
        {"inodes", kInt, nullptr}, {"parent_fs", kInt, nullptr}, {"parent_ino", kInt, nullptr},
        {"parent_path", kText, nullptr}}},
      {"inode", "inodes",
       {{"fs", kInt, nullptr}, {"slot", kInt, nullptr}, {"ino", kInt, nullptr},
        {"damaged", kText, nullptr}, {"file_type", kText, nullptr}, {"mode", kText, nullptr},
        {"uid", kInt, nullptr}, {"gid", kInt, nullptr}, {"nlink", kInt, nullptr},
        {"atime", kInt, nullptr}, {"mtime", kInt, nullptr}, {"ctime", kInt, nullptr},
        {"first_block", kInt, nullptr}, {"last_block", kInt, nullptr},
        {"image_offset", kInt, nullptr}, {"length", kInt, nullptr}}},
      {"dirent", "dirents",
       {{"fs", kInt, nullptr}, {"ino", kInt, nullptr}, {"name", kText, nullptr},
        {"name_hex", kText, nullptr}}},
      {"file", "files",
       {{"fs", kInt, nullptr}, {"slot", kInt, nullptr}, {"ino", kInt, nullptr},
        {"name", kText, nullptr}, {"name_hex", kText, nullptr}, {"path", kText, nullptr},
        {"path_hex", kText, nullptr}, {"image_offset", kInt, nullptr},
        {"length", kInt, nullptr}, {"status", kText, nullptr}, {"md5", kText, nullptr},
        {"sha1", kText, nullptr}, {"sha256", kText, nullptr}}},
      {"problem", "problems",
       {{"fs", kInt, nullptr}, {"slot", kInt, nullptr}, {"image_offset", kInt, "offset"},
        {"what", kText, nullptr}, {"text", kText, nullptr}}},
      {"data_area", "data_areas",
       {{"fs", kInt, nullptr}, {"image_offset", kInt, nullptr}, {"length", kInt, nullptr},
        {"overlapping_extents", kInt, nullptr}, {"extents_outside", kInt, nullptr}}},
      {"unallocated", "unallocated",
       {{"fs", kInt, nullptr}, {"kind", kText, nullptr}, {"slot", kInt, nullptr},
        {"image_offset", kInt, nullptr}, {"length", kInt, nullptr},
        {"non_zero", kInt, nullptr}, {"path", kText, nullptr}, {"path_hex", kText, nullptr},
        {"md5", kText, nullptr}, {"sha1", kText, nullptr}, {"sha256", kText, nullptr}}},
      {"deleted", "deleted",
       {{"fs", kInt, nullptr}, {"slot", kInt, nullptr}, {"image_offset", kInt, nullptr},
        {"length", kInt, nullptr}, {"first_block", kInt, nullptr},
        {"last_block", kInt, nullptr}, {"mode", kText, nullptr}, {"uid", kInt, nullptr},
        {"gid", kInt, nullptr}, {"nlink", kInt, nullptr}, {"atime", kInt, nullptr},
        {"mtime", kInt, nullptr}, {"ctime", kInt, nullptr},
        {"overlaps_live_file", kInt, nullptr}, {"path", kText, nullptr},
        {"path_hex", kText, nullptr}, {"md5", kText, nullptr}, {"sha1", kText, nullptr},
        {"sha256", kText, nullptr}}},
      {"deleted_name", "deleted_names",
       {{"fs", kInt, nullptr}, {"entry", kInt, nullptr}, {"name", kText, nullptr},
        {"name_hex", kText, nullptr}}},
      {"orphan", "orphans",
       {{"fs", kInt, nullptr}, {"slot", kInt, nullptr}, {"ino", kInt, nullptr},
        {"image_offset", kInt, nullptr}, {"length", kInt, nullptr}, {"path", kText, nullptr},
        {"path_hex", kText, nullptr}, {"md5", kText, nullptr}, {"sha1", kText, nullptr},
        {"sha256", kText, nullptr}}},
      // Records of a type not listed above: nothing of a scan is lost.
      {nullptr, "other_records", {{"type", kText, nullptr}}},
  };
  return kTables;
}

// The images table: the image record's fields, then the end record's.
const std::vector<Column>& imageColumns() {
  static const std::vector<Column> kColumns = {
      {"path", kText, nullptr},    {"path_hex", kText, nullptr}, {"size", kInt, nullptr},
      {"sectors", kInt, nullptr},  {"format", kText, nullptr},   {"tool", kText, nullptr},
      {"version", kText, nullptr}};
  return kColumns;
}
const std::vector<Column>& endColumns() {
  static const std::vector<Column> kColumns = {
      {"status", kInt, nullptr},        {"reached_end", kInt, nullptr},
      {"file_systems", kInt, nullptr},  {"dry_run", kInt, nullptr},
      {"files", kInt, nullptr},         {"files_skipped", kInt, nullptr},
      {"files_lost", kInt, nullptr},    {"bytes", kInt, nullptr}};
  return kColumns;
}

// Indexes beyond image_id: hashes and names.
const char* const kIndexes[][3] = {
    {"files", "sha256", ""},  {"files", "md5", ""},          {"files", "sha1", ""},
    {"files", "name", ""},    {"dirents", "name", ""},       {"deleted", "sha256", ""},
    {"deleted", "md5", ""},   {"deleted_names", "name", ""}, {"unallocated", "sha256", ""},
    {"orphans", "sha256", ""}, {"images", "evidence_id", ""}};

std::string quoted(const std::string& name) { return "\"" + name + "\""; }

}  // namespace

struct CaseDatabase::State {
  std::string path;
  sqlite3* db = nullptr;
  bool inTransaction = false;
  std::map<std::string, sqlite3_stmt*> statements;  // by SQL text
  std::map<std::string, const Table*> byType;
  // The evidence being added.
  std::string evidenceId;
  std::string imagePath;
  std::string imageId;  // of the image the records now go to
  int imagesSeen = 0;
  int64_t seq = 0;

  [[noreturn]] void fail(const std::string& why) {
    if (inTransaction) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      inTransaction = false;
    }
    throw OutputFailure("cannot write \"" + path + "\": " + why);
  }
  void check(int rc) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) fail(sqlite3_errmsg(db));
  }
  void exec(const std::string& sql) { check(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr)); }

  sqlite3_stmt* statement(const std::string& sql) {
    auto it = statements.find(sql);
    if (it != statements.end()) {
      sqlite3_reset(it->second);
      sqlite3_clear_bindings(it->second);
      return it->second;
    }
    sqlite3_stmt* s = nullptr;
    check(sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr));
    statements.emplace(sql, s);
    return s;
  }

  void bindText(sqlite3_stmt* s, int i, const std::string& text) {
    check(sqlite3_bind_text(s, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
  }

  // The value of a JSON field in column i: numbers and booleans as integers,
  // strings as text, null or missing as NULL, anything else as JSON text.
  void bindValue(sqlite3_stmt* s, int i, const Json* value) {
    if (value == nullptr || value->is_null()) {
      check(sqlite3_bind_null(s, i));
    } else if (value->is_boolean()) {
      check(sqlite3_bind_int(s, i, value->get<bool>() ? 1 : 0));
    } else if (value->is_number_unsigned()) {
      check(sqlite3_bind_int64(s, i, static_cast<sqlite3_int64>(value->get<uint64_t>())));
    } else if (value->is_number_integer()) {
      check(sqlite3_bind_int64(s, i, value->get<int64_t>()));
    } else if (value->is_number_float()) {
      check(sqlite3_bind_double(s, i, value->get<double>()));
    } else if (value->is_string()) {
      bindText(s, i, value->get<std::string>());
    } else {
      bindText(s, i, value->dump(-1, ' ', false, Json::error_handler_t::replace));
    }
  }

  static const Json* field(const Json& record, const Column& c) {
    if (!record.is_object()) return nullptr;
    auto it = record.find(c.key != nullptr ? c.key : c.name);
    return it == record.end() ? nullptr : &*it;
  }

  void createSchema() {
    std::string sql =
        "CREATE TABLE IF NOT EXISTS images (image_id TEXT PRIMARY KEY, evidence_id TEXT NOT "
        "NULL";
    for (const Column& c : imageColumns()) sql += ", " + quoted(c.name) + " " + c.type;
    for (const Column& c : endColumns()) sql += ", " + quoted(c.name) + " " + c.type;
    sql += ", record TEXT, end_record TEXT);\n";
    for (const Table& t : tables()) {
      sql += "CREATE TABLE IF NOT EXISTS " + quoted(t.name) +
             " (image_id TEXT NOT NULL, seq INTEGER NOT NULL";
      for (const Column& c : t.columns) sql += ", " + quoted(c.name) + " " + c.type;
      sql += ", record TEXT NOT NULL, PRIMARY KEY (image_id, seq));\n";
    }
    for (const auto& index : kIndexes) {
      const std::string table = index[0], column = index[1];
      sql += "CREATE INDEX IF NOT EXISTS " + quoted(table + "_" + column) + " ON " +
             quoted(table) + " (" + quoted(column) + ");\n";
    }
    sql += "PRAGMA user_version = " + std::to_string(kSchemaVersion) + ";\n";
    exec("BEGIN IMMEDIATE;\n" + sql + "COMMIT;");
  }

  void begin() {
    if (inTransaction) return;
    exec("BEGIN IMMEDIATE");
    inTransaction = true;
  }

  void removeEvidence(const std::string& id) {
    sqlite3_stmt* found = statement("SELECT 1 FROM images WHERE evidence_id = ?1 LIMIT 1");
    bindText(found, 1, id);
    const int rc = sqlite3_step(found);
    check(rc);
    if (rc != SQLITE_ROW) return;
    for (const Table& t : tables()) {
      sqlite3_stmt* s = statement("DELETE FROM " + quoted(t.name) +
                                  " WHERE image_id IN (SELECT image_id FROM images WHERE "
                                  "evidence_id = ?1)");
      bindText(s, 1, id);
      check(sqlite3_step(s));
    }
    sqlite3_stmt* s = statement("DELETE FROM images WHERE evidence_id = ?1");
    bindText(s, 1, id);
    check(sqlite3_step(s));
  }

  bool taken(const std::string& id) {
    sqlite3_stmt* s = statement("SELECT 1 FROM images WHERE image_id = ?1");
    bindText(s, 1, id);
    const int rc = sqlite3_step(s);
    check(rc);
    return rc == SQLITE_ROW;
  }

  // The image record starts an image of the evidence; null: an image
  // without one, with only the evidence's path.
  void addImage(const Json* record) {
    ++imagesSeen;
    const Json* path = record ? field(*record, Column{"path", kText, nullptr}) : nullptr;
    const std::string member = path && path->is_string() ? path->get<std::string>() : imagePath;
    if (member == imagePath) {
      imageId = evidenceId;
    } else if (member.compare(0, imagePath.size() + 1, imagePath + ":") == 0) {
      imageId = evidenceId + member.substr(imagePath.size());
    } else {
      imageId = evidenceId + "#" + std::to_string(imagesSeen);
    }
    // Two members of one name, or a member named as another evidence is.
    const std::string wanted = imageId;
    for (int k = 2; taken(imageId); ++k) imageId = wanted + "#" + std::to_string(k);
    seq = 0;
    std::string sql = "INSERT INTO images (image_id, evidence_id";
    std::string values = "?1, ?2";
    int n = 2;
    for (const Column& c : imageColumns()) {
      sql += ", " + quoted(c.name);
      values += ", ?" + std::to_string(++n);
    }
    sql += ", record) VALUES (" + values + ", ?" + std::to_string(n + 1) + ")";
    sqlite3_stmt* s = statement(sql);
    bindText(s, 1, imageId);
    bindText(s, 2, evidenceId);
    int i = 2;
    for (const Column& c : imageColumns()) {
      const Json* value = record ? field(*record, c) : nullptr;
      if (!record && std::string(c.name) == "path") {
        bindText(s, ++i, imagePath);
      } else {
        bindValue(s, ++i, value);
      }
    }
    if (record) {
      bindText(s, ++i, record->dump(-1, ' ', false, Json::error_handler_t::replace));
    } else {
      check(sqlite3_bind_null(s, ++i));
    }
    check(sqlite3_step(s));
  }

  void addEnd(const Json& record) {
    // A dry run counts what it listed, a real run what it wrote.
    Json counts = record;
    const bool dry = record.value("dry_run", false);
    counts["files"] = record.value(dry ? "files_listed" : "files_extracted", Json());
    counts["bytes"] = record.value(dry ? "bytes_listed" : "bytes_written", Json());
    counts["dry_run"] = dry;
    std::string sql = "UPDATE images SET ";
    int n = 0;
    for (const Column& c : endColumns()) sql += quoted(c.name) + " = ?" + std::to_string(++n) + ", ";
    sql += "end_record = ?" + std::to_string(n + 1) + " WHERE image_id = ?" + std::to_string(n + 2);
    sqlite3_stmt* s = statement(sql);
    int i = 0;
    for (const Column& c : endColumns()) bindValue(s, ++i, field(counts, c));
    bindText(s, ++i, record.dump(-1, ' ', false, Json::error_handler_t::replace));
    bindText(s, ++i, imageId);
    check(sqlite3_step(s));
  }

  void addRow(const Table& t, const Json& record, const std::string& line) {
    std::string sql = "INSERT INTO " + quoted(t.name) + " (image_id, seq";
    std::string values = "?1, ?2";
    int n = 2;
    for (const Column& c : t.columns) {
      sql += ", " + quoted(c.name);
      values += ", ?" + std::to_string(++n);
    }
    sql += ", record) VALUES (" + values + ", ?" + std::to_string(n + 1) + ")";
    sqlite3_stmt* s = statement(sql);
    bindText(s, 1, imageId);
    check(sqlite3_bind_int64(s, 2, seq));
    int i = 2;
    for (const Column& c : t.columns) bindValue(s, ++i, field(record, c));
    bindText(s, ++i, line);
    check(sqlite3_step(s));
  }
};

CaseDatabase::CaseDatabase(const std::string& path) : state_(std::make_unique<State>()) {
  State& st = *state_;
  st.path = path;
  const int rc = sqlite3_open_v2(path.c_str(), &st.db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    const std::string why = st.db ? sqlite3_errmsg(st.db) : sqlite3_errstr(rc);
    sqlite3_close(st.db);
    st.db = nullptr;
    throw OutputFailure("cannot write \"" + path + "\": " + why);
  }
  try {
    sqlite3_busy_timeout(st.db, 60000);  // another writer of the same case
    sqlite3_stmt* s = st.statement("PRAGMA user_version");
    st.check(sqlite3_step(s));
    const int version = sqlite3_column_int(s, 0);
    if (version > kSchemaVersion) {
      st.fail("a case database of a later version (" + std::to_string(version) + ")");
    }
    st.createSchema();
    for (const Table& t : tables()) st.byType[t.recordType ? t.recordType : ""] = &t;
  } catch (...) {
    for (auto& entry : st.statements) sqlite3_finalize(entry.second);
    sqlite3_close(st.db);
    throw;
  }
}

CaseDatabase::~CaseDatabase() {
  State& st = *state_;
  if (st.inTransaction) sqlite3_exec(st.db, "ROLLBACK", nullptr, nullptr, nullptr);
  for (auto& entry : st.statements) sqlite3_finalize(entry.second);
  sqlite3_close(st.db);
}

void CaseDatabase::startEvidence(const std::string& evidenceId, const std::string& imagePath) {
  State& st = *state_;
  st.begin();
  st.evidenceId = evidenceId;
  st.imagePath = imagePath;
  st.imageId = evidenceId;
  st.imagesSeen = 0;
  st.seq = 0;
  st.removeEvidence(evidenceId);
}

void CaseDatabase::addRecord(const std::string& line) {
  State& st = *state_;
  st.begin();
  const Json record = Json::parse(line, nullptr, false);
  const Json* typeField = st.field(record, Column{"type", kText, nullptr});
  const std::string type = typeField && typeField->is_string() ? typeField->get<std::string>() : "";
  if (type == "image") {
    st.addImage(&record);
    return;
  }
  if (st.imagesSeen == 0) st.addImage(nullptr);  // a scan that could not open its image
  ++st.seq;
  if (type == "end") {
    st.addEnd(record);
    return;
  }
  auto it = st.byType.find(type);
  if (it == st.byType.end()) it = st.byType.find("");
  st.addRow(*it->second, record, line);
}

void CaseDatabase::commit() {
  State& st = *state_;
  if (!st.inTransaction) return;
  st.check(sqlite3_exec(st.db, "COMMIT", nullptr, nullptr, nullptr));
  st.inTransaction = false;
}

void CaseDatabase::rollback() {
  State& st = *state_;
  if (!st.inTransaction) return;
  st.inTransaction = false;
  st.check(sqlite3_exec(st.db, "ROLLBACK", nullptr, nullptr, nullptr));
}
