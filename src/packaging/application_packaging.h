// Saving a running application: its workbook with the user's current values and its compiled
// model written into the resources of the application's executable, in place or into a copy.
//
// The application file's extension is the one the running application file has: ".exe" for an
// executable, ".kvapp" for the headless host's application file (".exe" when the path has none).
// A Save As target that does not end in it gets it appended.
//
// REQUIRES: runs on the host program's user-interface thread, inside the save event or a command.
#ifndef KORVEL_PACKAGING_APPLICATION_PACKAGING_H_
#define KORVEL_PACKAGING_APPLICATION_PACKAGING_H_

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "runtime/subsystems.h"

namespace korvel {

class ChunkStream;
class ExcelConnection;
class Files;
class Runtime;

class ApplicationPackaging : public Packaging {
 public:
  // The wait for an executable another process holds: attempts, and the pause between them.
  static constexpr int kOpenAttempts = 1001;
  static constexpr uint32_t kOpenPauseMs = 200;

  // REQUIRES: runtime and connection outlive the packaging.
  ApplicationPackaging(Runtime& runtime, ExcelConnection& connection);

  void saveAsExecutable() override { chooseAndSaveApplicationAs(); }
  void saveApplication() override { saveInPlace(); }
  void saveApplicationAs(std::u16string_view path) override { saveAs(path); }
  // The Save As dialog; on OK saveApplicationAs with the chosen path, on cancel nothing.
  void chooseAndSaveApplicationAs() override;
  void storeIntoExecutable() override { store(); }
  std::string lastFailure() const override { return lastFailure_; }

  // Save in place. A read-only application file is not written: the user is warned and sent to
  // the Save As dialog, and the answer is false. Otherwise the workbook is saved quietly and the
  // resources written; the answer is whether they were (the user is told when they were not).
  bool saveInPlace();
  // Save As: the target gets the application file's extension, an existing file is replaced only
  // when the user agrees, the running file is copied there (unless it is the target), the workbook
  // moves to a fresh name in the temporary directory, the target becomes the application path,
  // then saveInPlace. False when the user declined or the copy failed (nothing switched then; the
  // user is told why the copy failed).
  bool saveAs(std::u16string_view path);
  // Saves the application workbook in its current file with the program's alerts and events off;
  // failures of the program's calls are swallowed, and the settings come back on every path.
  void saveWorkbookQuietly();
  // Writes the workbook resource and the model's chunks into the application file. False, with
  // nothing written, when the workbook cannot be read, the model cannot be written or needs an
  // id above the last model resource id (the user is told), or the update cannot be opened or
  // committed.
  bool store();

  // The extension the application file has ("." included).
  std::u16string applicationExtension() const;

  // What store writes as the model: by default the runtime's model through the model writer.
  // Tests replace it to cut a model into as many chunks as they need without writing megabytes.
  // The writer may throw as the model writer does; store then writes nothing.
  using ModelWriter = std::function<void(ChunkStream& out)>;
  void setModelWriter(ModelWriter writer) { modelWriter_ = std::move(writer); }

 private:
  // The whole file through the file-writing helper of the port, so that a folder, a device or a
  // missing folder is refused with its reason and a failed copy leaves the target as it was.
  bool copyFile(Files& files, const std::u16string& from, const std::u16string& to,
                std::string* failure);
  // Keeps the reason and tells the user that the application was not saved.
  void reportFailure(std::string reason);
  std::u16string freshWorkbookPath(const std::u16string& name) const;
  void moveWorkbook(const std::u16string& newPath);
  std::u16string messageCaption() const;

  Runtime& runtime_;
  ExcelConnection& connection_;
  ModelWriter modelWriter_;
  std::string lastFailure_;
};

}  // namespace korvel

#endif  // KORVEL_PACKAGING_APPLICATION_PACKAGING_H_
