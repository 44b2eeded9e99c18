#include "packaging/application_packaging.h"

#include <exception>
#include <memory>
#include <vector>

#include "excel/dispatch_ids.h"
#include "excel/excel_connection.h"
#include "excel/excel_object.h"
#include "excel/interception.h"
#include "model/chunk_stream.h"
#include "model/envelope.h"
#include "model/model_stream.h"
#include "packaging/application_resources.h"
#include "runtime/host_channel.h"
#include "runtime/runtime.h"
#include "runtime/text_table.h"
#include "util/text.h"

namespace korvel {

namespace {

constexpr char16_t kDefaultExtension[] = u".exe";

// The first "%s" replaced by the value, as the program's swprintf would.
std::u16string withValue(std::u16string text, std::u16string_view value) {
  size_t at = text.find(u"%s");
  if (at != std::u16string::npos) text.replace(at, 2, value);
  return text;
}

uint32_t rotateRight(uint32_t value, unsigned bits) {
  return (value >> bits) | (value << (32 - bits));
}

}  // namespace

ApplicationPackaging::ApplicationPackaging(Runtime& runtime, ExcelConnection& connection)
    : runtime_(runtime), connection_(connection) {}

std::u16string ApplicationPackaging::applicationExtension() const {
  std::u16string_view extension = extensionOf(runtime_.channelState().applicationPath);
  if (extension.size() < 2) return kDefaultExtension;
  return std::u16string(extension);
}

std::u16string ApplicationPackaging::messageCaption() const {
  return u"Application " + runtime_.settings().applicationName;
}

void ApplicationPackaging::chooseAndSaveApplicationAs() {
  Dialogs* dialogs = runtime_.platform().dialogs;
  if (dialogs == nullptr) return;
  FileDialogRequest request;
  request.owner = runtime_.mainWindow();
  request.save = true;
  request.filterName = u"Executable Files";
  request.filterPattern = u"*.exe;";
  request.title = u"Save As";
  std::optional<std::u16string> chosen = dialogs->chooseFile(request);
  if (chosen && !chosen->empty()) saveAs(*chosen);
}

bool ApplicationPackaging::saveAs(std::u16string_view requested) {
  Files* files = runtime_.platform().files;
  if (files == nullptr) return false;
  lastFailure_.clear();
  std::u16string extension = applicationExtension();
  std::u16string target(requested);
  if (!endsWithNoCase(target, extension)) target += extension;

  if (files->exists(target)) {
    std::u16string question = withValue(
        u"The file '%s' already exists. Do you want to replace the existing file?", target);
    int answer = runtime_.platform().windows->messageBox(
        runtime_.mainWindow(), question, messageCaption(), kMbYesNo | kMbIconWarning);
    if (answer != kIdYes) return false;
  }

  std::u16string base = target.substr(0, target.size() - extension.size());
  std::u16string name(fileNameOf(base));
  const std::u16string& executable = runtime_.channelState().applicationPath;
  std::u16string newWorkbookPath;
  if (!equalsNoCase(target, executable)) {
    // Without the copy the application would switch to a file that does not hold it.
    std::string failure;
    if (!copyFile(*files, executable, target, &failure)) {
      reportFailure(std::move(failure));
      return false;
    }
    newWorkbookPath = freshWorkbookPath(name);
  } else {
    newWorkbookPath = files->temporaryDirectory() + name;
  }

  moveWorkbook(newWorkbookPath);
  runtime_.hostChannel().storeApplicationPath(target);
  saveInPlace();
  return true;
}

bool ApplicationPackaging::copyFile(Files& files, const std::u16string& from,
                                    const std::u16string& to, std::string* failure) {
  std::string bytes;
  if (!files.readAll(from, &bytes)) {
    *failure = "cannot read " + toUtf8(from);
    return false;
  }
  return files.writeAll(to, bytes, failure);
}

void ApplicationPackaging::reportFailure(std::string reason) {
  lastFailure_ = std::move(reason);
  runtime_.platform().windows->messageBox(
      runtime_.mainWindow(), u"The application was not saved: " + fromUtf8(lastFailure_) + u".",
      messageCaption(), kMbOk | kMbIconWarning);
}

std::u16string ApplicationPackaging::freshWorkbookPath(const std::u16string& name) const {
  Files& files = *runtime_.platform().files;
  std::u16string stem = files.temporaryDirectory() + name;
  // The program adds its own extension when it saves: ".xls" for the older format, ".xlsx" for
  // the workbooks of the headless program, so a name is free only when none of the three exists.
  auto taken = [&files](const std::u16string& path) {
    return files.exists(path) || files.exists(path + u".xls") || files.exists(path + u".xlsx");
  };
  std::u16string path = stem;
  for (int n = 1; taken(path); ++n) path = stem + u"(" + fromUtf8(std::to_string(n)) + u")";
  return path;
}

void ApplicationPackaging::moveWorkbook(const std::u16string& newPath) {
  ExcelObject& application = connection_.application();
  ExcelObject& workbook = connection_.workbook();
  if (!workbook.live()) return;
  std::u16string previous;
  try {
    previous = workbook.getText(dispid::kFullName);
  } catch (...) {
    return;
  }
  if (equalsNoCase(previous, newPath)) return;
  bool saved = false;
  try {
    application.put(dispid::kEnableEvents, Variant::boolean(false));
    application.put(dispid::kDisplayAlerts, Variant::boolean(false));
    int32_t format = workbook.getInt(dispid::kFileFormat);
    if (format == kFileFormatExcel8) {
      workbook.put(dispid::kCheckCompatibility, Variant::boolean(false));
    }
    // The program's own SaveAs: the runtime's replacement would send this back here.
    std::vector<Variant> arguments = {Variant::text(newPath), Variant::i4(format)};
    Variant result;
    saved = succeeded(connection_.interception().callOriginal(*workbook.dispatch(), kIidWorkbook,
                                                              dispid::kSaveAs, InvokeKind::kMethod,
                                                              arguments, &result));
  } catch (...) {
  }
  try {
    application.put(dispid::kDisplayAlerts, Variant::boolean(true));
    application.put(dispid::kEnableEvents, Variant::boolean(true));
  } catch (...) {
  }
  if (!saved) return;
  std::u16string current;
  try {
    current = workbook.getText(dispid::kFullName);
  } catch (...) {
    return;
  }
  runtime_.channelState().workbookPath = current;
  // The program names the file with its own extension, which can give back the previous name: that
  // file is now the workbook and stays.
  if (!previous.empty() && !equalsNoCase(previous, current)) {
    runtime_.platform().files->remove(previous);
  }
}

bool ApplicationPackaging::saveInPlace() {
  Files* files = runtime_.platform().files;
  if (files == nullptr) return false;
  const std::u16string executable = runtime_.channelState().applicationPath;
  if (files->readOnly(executable)) {
    runtime_.platform().windows->messageBox(
        runtime_.mainWindow(), withValue(tableText(TextEntry::kReadOnlyWarning), executable),
        tableText(TextEntry::kReadOnlyCaption), kMbOk | kMbIconWarning);
    chooseAndSaveApplicationAs();
    return false;
  }
  lastFailure_.clear();
  saveWorkbookQuietly();
  if (store()) return true;
  if (lastFailure_.empty()) reportFailure("cannot write " + toUtf8(executable));
  return false;
}

void ApplicationPackaging::saveWorkbookQuietly() {
  ExcelObject& application = connection_.application();
  ExcelObject& workbook = connection_.workbook();
  bool events = false;
  bool screen = false;
  try {
    events = application.getBool(dispid::kEnableEvents);
    screen = application.getBool(dispid::kScreenUpdating);
    application.put(dispid::kScreenUpdating, Variant::boolean(false));
    application.put(dispid::kDisplayAlerts, Variant::boolean(false));
    if (events) application.put(dispid::kEnableEvents, Variant::boolean(false));
  } catch (...) {
  }
  try {
    if (workbook.getInt(dispid::kFileFormat) == kFileFormatExcel8) {
      workbook.put(dispid::kCheckCompatibility, Variant::boolean(false));
    }
  } catch (...) {
  }
  try {
    if (workbook.live()) {
      // The program's own Save: the runtime's replacement would send this back here.
      std::vector<Variant> none;
      Variant result;
      connection_.interception().callOriginal(*workbook.dispatch(), kIidWorkbook, dispid::kSave,
                                              InvokeKind::kMethod, none, &result);
    }
  } catch (...) {
  }
  try {
    runtime_.channelState().workbookPath = workbook.getText(dispid::kFullName);
  } catch (...) {
  }
  try {
    if (events) application.put(dispid::kEnableEvents, Variant::boolean(true));
    application.put(dispid::kDisplayAlerts, Variant::boolean(true));
    if (screen) application.put(dispid::kScreenUpdating, Variant::boolean(true));
  } catch (...) {
  }
}

bool ApplicationPackaging::store() {
  const Platform& platform = runtime_.platform();
  if (platform.files == nullptr || platform.resources == nullptr) return false;
  Files& files = *platform.files;
  const std::u16string executable = runtime_.channelState().applicationPath;
  const std::u16string& workbookPath = runtime_.channelState().workbookPath;
  if (executable.empty() || (!modelWriter_ && runtime_.model() == nullptr)) return false;

  // A copy under a fresh temporary name: the program may still hold the workbook file.
  std::u16string copy;
  for (int attempt = 0; attempt < SpillChunk::kNameAttempts && copy.empty(); ++attempt) {
    std::u16string candidate = files.temporaryDirectory() + drawTemporaryName();
    Files::Created created = files.createExclusive(candidate, {});
    if (created == Files::Created::kOk) copy = candidate;
    if (created == Files::Created::kFailed) return false;
  }
  if (copy.empty()) return false;
  std::string workbookBytes;
  std::string failure;
  bool copied = copyFile(files, workbookPath, copy, &failure) && files.exists(copy) &&
                files.readAll(copy, &workbookBytes);
  files.remove(copy);
  if (!copied) {
    reportFailure(failure.empty() ? "cannot read the workbook " + toUtf8(workbookPath) : failure);
    return false;
  }

  // The runtime keeps the record as the launcher sent it, which may be enveloped; the tag is read
  // from the record itself, as the launcher reads it.
  const std::string& record = runtime_.settings().settingsCopy;
  std::string unwrapped;
  if (decodeEnvelope(record, &unwrapped) == 0) unwrapped = record;
  uint32_t tag = rotateRight(workbookTag(unwrapped), kWorkbookTagRotation);
  std::string content;
  for (int i = 0; i < 4; ++i) content.push_back(char((tag >> (8 * i)) & 0xFF));
  content += workbookBytes;
  workbookBytes.clear();

  auto stream = std::make_unique<ChunkStream>(files, true);
  try {
    if (modelWriter_) {
      modelWriter_(*stream);
    } else {
      writeModel(*runtime_.model(), *stream);
    }
    stream->flush();
  } catch (...) {
    return false;
  }
  // Refused before the file is opened, so a model that does not fit leaves it as it was.
  if (stream->chunkCount() > size_t(kLastModelResourceId - kFirstModelResourceId + 1)) {
    platform.windows->messageBox(runtime_.mainWindow(),
                                 u"The application's model is too large to be saved into the "
                                 u"application file. Nothing was saved.",
                                 messageCaption(), kMbOk | kMbIconError);
    lastFailure_ = "the model is too large for the application file";
    return false;
  }
  std::string envelope;
  if (!encodeEnvelope(content, &envelope)) return false;
  content.clear();

  for (int attempt = 1; !files.openableForAppend(executable); ++attempt) {
    if (attempt >= kOpenAttempts || platform.clock == nullptr) break;
    platform.clock->sleep(kOpenPauseMs);
  }

  std::unique_ptr<ResourceUpdate> update = platform.resources->beginUpdate(executable, true);
  if (update == nullptr) return false;
  bool written = update->update(workbookResourceType(), kWorkbookResourceId,
                                kResourceLanguageEnglish, envelope);
  for (size_t i = 0; written && i < stream->chunkCount(); ++i) {
    written = update->update(kModelResourceType, kFirstModelResourceId + uint32_t(i),
                             kResourceLanguageEnglish, stream->chunk(i).storedEnvelope());
  }
  // The launcher reads model chunks up to the first missing id: chunks of a larger model saved
  // before must go, or they would be read as part of this one.
  for (uint32_t id = kFirstModelResourceId + uint32_t(stream->chunkCount());
       written && id <= kLastModelResourceId; ++id) {
    written = update->remove(kModelResourceType, id, kResourceLanguageEnglish);
  }
  // A resource that could not be stored would leave a model that does not match its workbook.
  return update->end(written) && written;
}

}  // namespace korvel
