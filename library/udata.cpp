#include "library/udata.h"
#include "library/uitext.h"
#include "platform/msgservice.h"

namespace vardex {

TdData::TdData()
    : ADOqrCheck(&ADOcn), ADOqr(&ADOcn, QStringLiteral("select * from qx_user")), ADOqrList(&ADOcn) {
    DatasrList.DataSet = &ADOqrList;
    // Audit rows written while a window's transaction was open go to the store once it ends;
    // one the store refuses then is reported like any lost audit row.
    ADOcn.setKeptFailureHandler([](const QString& reason) {
        notifyWarning(Ui::tr("审计日志写入失败, 窗口事务期间的一条记录没有写入: ") + reason, Ui::tr("出错"));
    });
}

} // namespace vardex
