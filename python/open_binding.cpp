#include "open_binding.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bfsscan/bfsscan.h"

namespace py = pybind11;

namespace {

// What a list-only scan finds: the file systems and their files, as dicts.
class Collector : public bfsscan::Sink {
 public:
  std::vector<bfsscan::FileEvent> files;
  std::vector<std::string> problems;
  std::vector<bfsscan::FileSystemEvent> found;
  void fileSystem(const bfsscan::FileSystemEvent& e) override { found.push_back(e); }
  void file(const bfsscan::FileEvent& e) override {
    if (e.status != bfsscan::FileEvent::kPending && e.status != bfsscan::FileEvent::kDirectory) {
      files.push_back(e);
    }
  }
  void problem(const bfsscan::ProblemEvent& e) override { problems.push_back(e.text); }
};

py::dict inodeDict(const bfsscan::Inode& a) {
  py::dict d;
  d["ino"] = a.ino;
  d["type"] = a.type;
  d["mode"] = a.mode;
  d["uid"] = a.uid;
  d["gid"] = a.gid;
  d["nlink"] = a.nlink;
  d["atime"] = a.atime;
  d["mtime"] = a.mtime;
  d["ctime"] = a.ctime;
  d["first_block"] = a.firstBlock;
  d["last_block"] = a.lastBlock;
  return d;
}

// The image, shared by the file systems and files opened from it.
struct Opened {
  std::shared_ptr<bfsscan::Image> image;
};

struct OpenedFileSystem {
  std::shared_ptr<bfsscan::Image> image;
  std::shared_ptr<bfsscan::FileSystem> fs;
};

struct OpenedFile {
  std::shared_ptr<bfsscan::Image> image;
  std::shared_ptr<bfsscan::FileSystem> fs;
  bfsscan::FileInfo info;
};

py::dict fileDict(const OpenedFile& f, const std::vector<std::string>& names) {
  py::dict d = inodeDict(f.info.inode);
  d["fs"] = f.info.fs;
  d["slot"] = f.info.slot;
  d["deleted"] = f.info.deleted;
  d["image_offset"] = f.info.imageOffset;
  d["length"] = f.info.length;
  d["broken"] = f.info.broken;
  py::list n;
  for (const std::string& name : names) n.append(py::bytes(name));
  d["names"] = n;
  return d;
}

}  // namespace

void defineOpen(py::module_& m) {
  py::register_exception<bfsscan::FileError>(m, "FileError", PyExc_OSError);
  py::register_exception<bfsscan::ImageError>(m, "ImageError", PyExc_OSError);

  py::class_<OpenedFile>(m, "OpenedFile")
      .def("info",
           [](const OpenedFile& f) {
             std::vector<std::string> names;
             if (!f.info.deleted) names = f.fs->names(f.info.slot);
             return fileDict(f, names);
           })
      .def("read", [](const OpenedFile& f, uint64_t pos, size_t n) {
        std::string bytes;
        {
          py::gil_scoped_release release;
          bytes.resize(static_cast<size_t>(
              std::min<uint64_t>(n, pos < f.info.length ? f.info.length - pos : 0)));
          bytes.resize(f.fs->read(f.info, pos, bytes.data(), bytes.size()));
        }
        return py::bytes(bytes);
      });

  py::class_<OpenedFileSystem>(m, "OpenedFileSystem")
      .def_property_readonly("offset", [](const OpenedFileSystem& s) { return s.fs->offset(); })
      .def_property_readonly("slot_count",
                             [](const OpenedFileSystem& s) { return s.fs->slotCount(); })
      .def("file", [](const OpenedFileSystem& s, uint32_t ino, bool deleted) {
        return OpenedFile{s.image, s.fs, deleted ? s.fs->deleted(ino) : s.fs->file(ino)};
      });

  py::class_<Opened>(m, "Opened")
      .def(py::init([](const std::string& path, const std::string& format) {
        return Opened{std::shared_ptr<bfsscan::Image>(bfsscan::Image::open(path, format))};
      }))
      .def("file_system",
           [](const Opened& o, int64_t offset) {
             return OpenedFileSystem{o.image, bfsscan::FileSystem::open(*o.image, offset)};
           })
      // The list-only scan (of the file system at offset only, when given):
      // (file systems, files, problem lines).
      .def("list", [](const Opened& o, std::optional<int64_t> offset) {
        Collector c;
        bfsscan::ScanConfig config;
        config.dryRun = true;
        config.listOnly = true;
        config.keepGoing = true;  // damage in one file system hides no other
        config.offset = offset;
        {
          py::gil_scoped_release release;
          bfsscan::scan(*o.image, config, c);
        }
        py::list systems, files;
        for (const bfsscan::FileSystemEvent& e : c.found) {
          py::dict d;
          d["offset"] = e.base;
          d["end"] = e.end;
          d["slot_count"] = e.slotCount;
          systems.append(d);
        }
        for (const bfsscan::FileEvent& e : c.files) {
          py::dict d = inodeDict(e.inode);
          d["fs"] = e.fs;
          d["slot"] = e.slot;
          d["name"] = py::bytes(e.name);
          d["path"] = e.status == bfsscan::FileEvent::kSkipped
                          ? py::object(py::none())
                          : py::object(py::bytes(e.dir + "/" + e.name));
          d["image_offset"] = e.imageOffset;
          d["length"] = e.length;
          files.append(d);
        }
        return py::make_tuple(systems, files, c.problems);
      });
}
