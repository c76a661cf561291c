#pragma once
// Session components: groups of database components inside the process, found by name and
// closed together. The application uses only the default session "Default"; every component
// that names no session falls back to it.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dbengine/access/orv_component.h"
#include "dbengine/access/orv_main_engine.h"

namespace orv {

class TORVBaseSession;
class TORVDatabase;

enum TORVDatabaseEvent : uint8_t { dbOpen = 0, dbClose = 1, dbAdd = 2, dbRemove = 3 };
using TORVDatabaseNotifyEvent = std::function<void(TORVDatabaseEvent DBEvent, TORVDatabase* Database)>;

// A component that belongs to a session by its session name (database and dataset
// components): a session that generates its name gives it to those placed beside it.
class IORVSessionMember {
 public:
  virtual ~IORVSessionMember() = default;
  virtual const std::string& GetSessionName() const = 0;
  virtual void SetSessionName(const std::string& Value) = 0;
  // A session with a generated name was placed beside this component: it joins that session.
  virtual void JoinAutoSession(TORVSession& Session) = 0;
};

// Every session of the process, in creation order; the first one is the default session.
// Guarded by its own re-entrant lock.
class TORVSessionList {
 public:
  explicit TORVSessionList(TORVEngine& Engine);
  // CloseAll.
  ~TORVSessionList();
  TORVSessionList(const TORVSessionList&) = delete;
  TORVSessionList& operator=(const TORVSessionList&) = delete;

  // The first session added becomes the default.
  void AddSession(TORVSession* Session);
  void RemoveSession(TORVSession* Session);
  // Frees every session, the last first.
  void CloseAll();
  int32_t GetCount();
  // The session whose handle is the engine's current manager; nullptr when none.
  TORVSession* GetCurrentSession();
  TORVSession* GetSession(int32_t Index);
  // '' gives the default session; otherwise the first session whose name equals SessionName
  // ignoring ASCII letter case; nullptr when none.
  TORVSession* FindSession(const std::string& SessionName);
  // As FindSession; none: 20002 "Invalid session name '%s'".
  TORVSession* GetSessionByName(const std::string& SessionName);
  void GetSessionNames(std::vector<std::string>& List);
  // The session of that name (made, without owner, when there is none), active.
  TORVSession* OpenSession(const std::string& SessionName);
  void SetCurrentSession(TORVSession* Session);

  // The numbers taken by generated session names; the lowest free one is taken and set.
  int32_t TakeSessionNumber();
  void ReleaseSessionNumber(int32_t Number);

 private:
  TORVEngine& FEngine;
  std::recursive_mutex FLock;
  std::vector<TORVSession*> FSessions;  // freed by CloseAll
  std::vector<bool> FSessionNumbers;
};

// A session is made with new and freed by whichever comes first: its owner, the code that made
// it, or the engine's shut-down, which frees every session still listed.
class TORVSession : public TORVComponent {
 public:
  // Joins the engine's session list (the running engine's; none: 30540). A session placed
  // beside one whose name is generated is refused.
  explicit TORVSession(TORVComponent* AOwner = nullptr);
  // Deactivates (closing its databases and freeing its temporary ones), leaves the session
  // list, and sends the databases still attached to the default session.
  ~TORVSession() override;

  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  bool Active() const { return FHandle != nullptr; }
  void SetActive(bool Value);
  bool IsDefault() const { return FDefault; }

  const std::string& SessionName() const { return FSessionName; }
  void SetSessionName(const std::string& Value);
  bool AutoSessionName() const { return FAutoSessionName; }
  void SetAutoSessionName(bool Value);
  bool SessionNameStored() const { return !FAutoSessionName; }
  int32_t SessionNumber() const { return FSessionNumber; }
  bool KeepConnections() const { return FKeepConnections; }
  void SetKeepConnections(bool Value) { FKeepConnections = Value; }
  void SetName(const std::string& Value) override;

  // The handle, made current; an inactive session is activated first.
  TORVSessionComponentManager* GetHandle();
  TORVSessionComponentManager* Handle() const { return FHandle; }
  void MakeCurrent();
  // Enters the session lock and makes this session current (leaving the lock again when that
  // fails).
  void LockSession();
  void UnlockSession();
  // The same, for the engine's scope guard (TORVLockGuard).
  void Lock() { LockSession(); }
  void Unlock() { UnlockSession(); }
  // Active: "Cannot perform this operation on an active session".
  void CheckInactive();

  // ---- databases ----
  void AddDatabase(TORVDatabase* Database);
  void RemoveDatabase(TORVDatabase* Database);
  // The first database whose name equals DatabaseName ignoring ASCII letter case.
  TORVDatabase* FindDatabase(const std::string& DatabaseName);
  // With AOwner: first a database owned by AOwner that shares its handle; else FindDatabase.
  TORVDatabase* DoFindDatabase(const std::string& DatabaseName, TORVComponent* AOwner);
  // The storage session of an open database of that name that shares it; nullptr when none.
  TORVBaseSession* FindDatabaseHandle(const std::string& DatabaseName);
  TORVDatabase* OpenDatabase(const std::string& DatabaseName) { return DoOpenDatabase(DatabaseName, nullptr); }
  // The database of that name, made (temporary, silent, owned by this session) when there is
  // none, opened, its reference count raised. A failure frees what it made.
  TORVDatabase* DoOpenDatabase(const std::string& DatabaseName, TORVComponent* AOwner);
  // Lowers the reference count; at 0 without KeepConnection a database is closed, a temporary
  // one freed.
  void CloseDatabase(TORVDatabase* Database);
  // Frees the temporary databases nobody references.
  void DropConnections();
  TORVDatabase* GetDatabase(int32_t Index) const { return FDatabases.at(static_cast<size_t>(Index)); }
  int32_t GetDatabaseCount() const { return static_cast<int32_t>(FDatabases.size()); }
  // All database names, sorted.
  void GetDatabaseNames(std::vector<std::string>& List);
  void GetTableNames(const std::string& DatabaseName, std::vector<std::string>& List);

  void Notification(TORVComponent* AComponent, TOperation Operation) override;

  std::function<void(TORVSession& Sender)> OnStartup;
  TORVDatabaseNotifyEvent FOnDBNotify;  // no property sets it
  void DBNotification(TORVDatabaseEvent DBEvent, TORVDatabase* Database);

 protected:
  void Loaded() override;

 private:
  friend class TORVSessionList;

  void StartSession(bool Value);
  void UpdateAutoSessionName();
  void SetSessionNames();
  void ValidateAutoSession(TORVComponent* AOwner, bool AutoSessionName);

  TORVEngine& FEngine;
  TORVSessionComponentManager* FHandle = nullptr;  // the engine's for the default session
  std::unique_ptr<TORVSessionComponentManager> FOwnHandle;
  std::vector<TORVDatabase*> FDatabases;  // borrowed
  bool FStreamedActive = false;
  bool FKeepConnections = true;
  bool FDefault = false;
  bool FAutoSessionName = false;
  bool FUpdatingAutoSessionName = false;
  std::string FSessionName;
  int32_t FSessionNumber = -1;
};

}  // namespace orv
