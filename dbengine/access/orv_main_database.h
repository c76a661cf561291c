#pragma once
// The database component: names, opens, creates and maintains one database. While open it
// holds a storage session (a TORVLocalSession) connected to the shared database data object
// of its file; datasets find it by its DatabaseName within its session.
//
// Texts are UTF-8 (file names, the password as typed); the password reaches the engine as
// Windows-1252 bytes, the form the file's key is made from.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/access/orv_component.h"
#include "dbengine/access/orv_main_session.h"
#include "dbengine/file/orv_security.h"
#include "platform/files/file.h"
#include "platform/ui/ui_services.h"

namespace orv {

class TORVBaseSession;
class TORVLocalSession;
class TORVDatabase;

// A dataset attached to a database component; the dataset components add and remove
// themselves.
class IORVDatabaseDataSet {
 public:
  virtual ~IORVDatabaseDataSet() = default;
  // Closes the dataset and lets go of the database.
  virtual void Disconnect() = 0;
  // Query datasets are closed before the others.
  virtual bool IsQuery() const = 0;
};

using TORVNotifyEvent = std::function<void(TORVDatabase& Sender)>;
// Continue True: a new password has been set and opening is to be tried again.
using TORVPasswordEvent = std::function<void(TORVDatabase& Sender, bool& Continue)>;
// Continue False stops the operation.
using TORVProgressEvent = std::function<void(TORVDatabase& Sender, int PercentDone, bool& Continue)>;
using TORVOnNeedRepairEvent = std::function<void(TORVDatabase& Sender, bool& DoRepair)>;

class TORVDatabase : public TORVComponent, public IORVSessionMember {
 public:
  // Joins AOwner when that is a session, else the default session (the running engine's;
  // none: 30540), with the defaults of a new database.
  explicit TORVDatabase(TORVComponent* AOwner = nullptr);
  // Closes (errors are dropped) and leaves its session.
  ~TORVDatabase() override;

  // ---- connection ----
  bool Connected() const { return FHandle != nullptr; }
  void SetConnected(bool Value);
  // Opens the file through a storage session, asking for a password while it does not fit
  // and offering the repair or conversion of a file that needs it (Algorithms of the open).
  void Open();
  // Closes the attached datasets, then lets go of the storage session (a borrowed one is
  // only forgotten). Databases that borrowed this one's storage session are closed first.
  void Close();
  void CloseDataSets();

  // ---- properties ----
  // "7.90 " whatever the locale: the engine's version with a point and two decimals.
  std::string CurrentVersion() const;
  // Read from a stored description and ignored.
  void SetCurrentVersion(const std::string& Value) { FCurrentVersion = Value; }
  const std::string& DatabaseFileName() const { return FDatabaseFileName; }
  void SetDatabaseFileName(const std::string& Value);
  const std::string& DatabaseName() const { return FDatabaseName; }
  void SetDatabaseName(const std::string& Value);
  bool Exclusive() const { return FExclusive; }
  void SetExclusive(bool Value) { FExclusive = Value; }
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& Value) { FPassword = Value; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }
  bool HandleShared() const { return FHandleShared; }
  void SetHandleShared(bool Value) { FHandleShared = Value; }
  bool KeepConnection() const { return FKeepConnection; }
  void SetKeepConnection(bool Value);
  int32_t MaxConnections() const { return FMaxConnections; }
  void SetMaxConnections(int32_t Value) { FMaxConnections = Value; }
  bool MultiUser() const { return FMultiUser; }
  void SetMultiUser(bool Value) { FMultiUser = Value; }
  const std::string& GetSessionName() const override { return FSessionName; }
  void SetSessionName(const std::string& Value) override;
  bool SilentMode() const { return FSilentMode; }
  void SetSilentMode(bool Value) { FSilentMode = Value; }
  bool DisableTempFiles() const { return FDisableTempFiles; }
  void SetDisableTempFiles(bool Value) { FDisableTempFiles = Value; }
  bool NoRequestAutoRepair() const { return FNoRequestAutoRepair; }
  void SetNoRequestAutoRepair(bool Value) { FNoRequestAutoRepair = Value; }
  int32_t PageSize() const { return FPageSize; }
  void SetPageSize(int32_t Value) { FPageSize = Value; }
  int32_t PageCountInExtent() const { return FPageCountInExtent; }
  void SetPageCountInExtent(int32_t Value) { FPageCountInExtent = Value; }
  TORVCryptoAlgorithm CryptoAlgorithm() const { return FCryptoAlgorithm; }
  void SetCryptoAlgorithm(TORVCryptoAlgorithm Value) { FCryptoAlgorithm = Value; }

  // The file named DatabaseFileName exists.
  bool Exists() const;
  TORVBaseSession* Handle() const { return FHandle; }
  TORVSession* Session() const { return FSession; }
  bool Temporary() const { return FTemporary; }
  int32_t RefCount() const { return FRefCount; }
  bool InTransaction() const;

  int32_t DataSetCount() const { return static_cast<int32_t>(FDataSets.size()); }
  IORVDatabaseDataSet* DataSets(int32_t Index) const { return FDataSets.at(static_cast<size_t>(Index)); }
  void AddDataSet(IORVDatabaseDataSet* DataSet);
  void RemoveDataSet(IORVDatabaseDataSet* DataSet);

  // ---- information and transactions ----
  // Connects for the call when closed; errors are dropped (List holds what was added).
  void GetTablesList(std::vector<std::string>& List);
  // Connects when closed, and stays connected.
  bool TableExists(const std::string& TableName);
  int32_t GetDBFileConnectionsCount();
  void FlushBuffers();
  // Already in a transaction: "Database is already within a transaction".
  void StartTransaction();
  void Commit(bool DoFlushBuffers);
  void Rollback();

  // ---- file operations (the database must be closed) ----
  void CreateDatabase();
  void DeleteDatabase();
  void RenameDatabase(const std::string& NewDatabaseFileName);
  // Opens exclusively, gives free pages at the end of the file back, closes.
  void TruncateDatabase();
  // Copies the database into a new file and puts it in the old one's place; returns what went
  // wrong while copying (empty when nothing did). Open runs it for a file that needs repair.
  virtual std::string RepairDatabase();

  // ---- maintenance: the database copied table by table into a new file ----
  // Each needs the database closed and leaves it closed; the old file stays as it was until
  // the whole copy succeeded, and is then replaced in one step while no one else has it open
  // (refused: the copy is deleted and the operation fails).
  bool CompactDatabase(const std::string& NewDatabaseFileName);
  bool CompactDatabase();
  bool RepairDatabase(const std::string& NewDatabaseFileName, std::string& Log);
  std::string ChangePassword(const std::string& NewPassword, TORVCryptoAlgorithm NewCryptoAlgorithm);
  std::string ChangePassword(const std::string& NewPassword);
  bool ChangeDatabaseSettings(std::string& Log, bool IgnoreErrors, const std::string& NewPassword,
                              TORVCryptoAlgorithm NewCryptoAlgorithm, int32_t NewPageSize,
                              int32_t NewPageCountInExtent, int32_t NewMaxConnections);
  // The copy behind every maintenance operation.
  bool InternalCopyDatabase(const std::string& NewDatabaseFileName, std::string& Log, bool IgnoreErrors,
                            const std::string& NewPassword, TORVCryptoAlgorithm NewCryptoAlgorithm,
                            int32_t NewPageSize, int32_t NewPageCountInExtent, int32_t NewMaxConnections,
                            const TORVNotifyEvent& BeforeEvent, const TORVProgressEvent& ProgressEvent,
                            const TORVNotifyEvent& AfterEvent);

  // ---- checks (each raises the platform's database error with this component's name) ----
  void CheckDatabaseName();
  void CheckActive();
  void CheckInactive();
  void CheckConnected();
  void ValidateName(const std::string& Name);
  // Finds the session named SessionName (Required: it must exist, 20002, and is activated)
  // and moves this database to it.
  void CheckSessionName(bool Required);

  // Asks for a new password: OnPassword, else nothing when silent, else the password dialog.
  // True: try again.
  bool GetPassword();

  void Notification(TORVComponent* AComponent, TOperation Operation) override;
  void JoinAutoSession(TORVSession& Session) override;

  // ---- events ----
  TORVPasswordEvent OnPassword;
  TORVNotifyEvent BeforeRepair;
  TORVProgressEvent OnRepairProgress;
  TORVNotifyEvent AfterRepair;
  TORVNotifyEvent BeforeCompact;
  TORVProgressEvent OnCompactProgress;
  TORVNotifyEvent AfterCompact;
  TORVNotifyEvent BeforeChangePassword;
  TORVProgressEvent OnChangePasswordProgress;
  TORVNotifyEvent AfterChangePassword;
  TORVOnNeedRepairEvent OnNeedRepair;
  TORVNotifyEvent BeforeChangeDatabaseSettings;
  TORVProgressEvent OnChangeDatabaseSettingsProgress;
  TORVNotifyEvent AfterChangeDatabaseSettings;

  // How the storage sessions reach their files (plain files when empty; tests inject faults).
  platform::FileFactory FileFactory;
  // The default progress form while a maintenance operation runs without events of its own.
  std::unique_ptr<platform::ui::ProgressForm> frmWait;

 protected:
  void Loaded() override;
  void CreateHandle();
  // Disconnects and frees an owned storage session; the handle is gone afterwards also when
  // the disconnect raised.
  void DestroyHandle();
  bool OpenFromExistingDB();
  bool DoOnNeedRepair();
  bool DoOnNeedConvert();

 private:
  friend class TORVSession;

  TORVLocalSession* LocalHandle() const;
  // The default progress display of the maintenance operations (Visible: the form is shown at
  // once and on every step, as the repair does).
  void InternalBefore(const TORVNotifyEvent& Handler, const char* Text, bool Visible);
  void InternalProgress(const TORVProgressEvent& Handler, int PercentDone, bool& Continue, bool Visible);
  void InternalAfter(const TORVNotifyEvent& Handler);
  // Puts the finished copy in the place of DatabaseFileName; false (the copy deleted, the
  // original kept) while another handle has either file open.
  bool ReplaceByCopy(const std::string& CopyFileName);
  // Steps of one attempt to open: storage session made and connected, the repair or conversion
  // offered when the file needs it.
  void ConnectHandle();
  // The session this database belongs to; detached (its session gone): 30548.
  TORVSession& AttachedSession();

  std::string FCurrentVersion;
  std::vector<IORVDatabaseDataSet*> FDataSets;  // borrowed
  bool FKeepConnection = true;
  bool FTemporary = false;
  bool FStreamedConnected = false;
  bool FAcquiredHandle = false;
  bool FHandleShared = false;
  bool FReadOnly = false;
  bool FExclusive = false;
  int32_t FRefCount = 0;
  TORVBaseSession* FHandle = nullptr;  // owned (FOwnedHandle) unless FAcquiredHandle
  std::unique_ptr<TORVLocalSession> FOwnedHandle;
  TORVSession* FSession = nullptr;  // borrowed
  std::string FSessionName;
  std::string FDatabaseName;
  std::string FDatabaseFileName;
  std::string FPassword;
  TORVCryptoAlgorithm FCryptoAlgorithm = craRijndael_128;
  int32_t FPageSize = 4096;
  int32_t FPageCountInExtent = 8;
  bool FNoRequestAutoRepair = false;
  bool FSilentMode = false;
  bool FMultiUser = false;
  int32_t FMaxConnections = 500;
  bool FDisableTempFiles = false;
};

}  // namespace orv
