#pragma once
// The data module: the session connection and the queries that run on it. A session
// (library/dmain.h) holds one from ConnectDatabase to DisconnectDatabase.
#include "library/passwordpolicy.h"
#include "platform/adodb.h"

namespace vardex {

// Binds a data-aware control to a query (the item list editor's grid reads through it).
struct TDataSource {
    AdoQuery* DataSet = nullptr;
};

class TdData {
  public:
    TdData();
    TdData(const TdData&) = delete;
    TdData& operator=(const TdData&) = delete;

    // Declared in this order; every query runs on ADOcn.
    AdoQuery ADOqrCheck; // login verification and right check
    AdoConnection ADOcn; // the session connection: every statement of the system
    AdoQuery ADOqr;      // administration window and its dialogs
    TDataSource DatasrList;
    AdoQuery ADOqrList; // permission item list editor

    // The store's password policy, read once by ConnectDatabase.
    PasswordPolicy Policy;
    // A desktop's account on a secured store (library/securestore.h): the checks are calls of
    // the store's functions and the administration is refused.
    bool Secured = false;
    QString SecuredSchema; // the store's schema there, quoted: every call names it
};

} // namespace vardex
