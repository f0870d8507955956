#include "imaging/commondialog.h"

std::optional<QString> askOpenPath(CommonDialog &dialog)
{
    dialog.setFilter(OpenFilter);
    if (!dialog.showOpen())
        return std::nullopt;
    return dialog.fileName();
}
