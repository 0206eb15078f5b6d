#include "session/masterregistry.h"

#include "bus/serialbackend.h"
#include "bus/tmexlibrary.h"
#include "bus/usbbackend.h"
#include "bus/w1backend.h"
#include "sim/simbusloader.h"

#include <algorithm>

const QVector<MasterEntry> &MasterRegistry::entries()
{
    // One line per master.
    static const QVector<MasterEntry> list{
        SimBusLoader::masterEntry(),
        TmexLibrary::masterEntry(),
        SerialBackend::masterEntry(),
        UsbBackend::masterEntry(),
        W1Backend::masterEntry(),
    };
    return list;
}

const MasterEntry *MasterRegistry::find(const QString &value, QString *argument)
{
    for (const MasterEntry &entry : entries()) {
        if (value == entry.prefix && entry.takesBare()) {
            argument->clear();
            return &entry;
        }
        const QString lead = entry.prefix + QLatin1Char(':');
        if (value.startsWith(lead) && value.size() > lead.size() && entry.takesArgument()) {
            *argument = value.mid(lead.size());
            return &entry;
        }
    }
    return nullptr;
}

QStringList MasterRegistry::forms()
{
    QStringList all;
    for (const MasterEntry &entry : entries()) {
        for (const MasterEntry::Form &form : entry.forms)
            all << form.value;
    }
    return all;
}

QVector<const MasterEntry *> MasterRegistry::defaultOrder()
{
    QVector<const MasterEntry *> order;
    for (const MasterEntry &entry : entries()) {
        if (entry.defaultPlace > 0 && entry.choose)
            order << &entry;
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const MasterEntry *a, const MasterEntry *b) { return a->defaultPlace < b->defaultPlace; });
    return order;
}
