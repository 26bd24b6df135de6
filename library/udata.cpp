#include "library/udata.h"

namespace vardex {

TdData* dData = nullptr;

TdData::TdData()
    : ADOqrCheck(&ADOcn), ADOqr(&ADOcn, QStringLiteral("select * from qx_user")), ADOqrList(&ADOcn) {
    DatasrList.DataSet = &ADOqrList;
}

} // namespace vardex
