// Serial devices through QSerialPortInfo.
#include "ui/SerialList.h"

#include <QSerialPortInfo>

std::vector<SerialDevice> ListSerialDevices(const std::string& byIdDir) {
    std::vector<SerialDevice> nodes;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        QStringList about;
        for (const QString& part : {info.manufacturer(), info.description()})
            if (!part.isEmpty() && !about.contains(part)) about << part;
        if (!info.serialNumber().isEmpty()) about << QString::fromUtf8("№ ") + info.serialNumber();
        nodes.push_back(
            {{}, info.systemLocation().toStdString(), about.join(QStringLiteral(", ")).toStdString()});
    }
    return NameSerialDevices(nodes, byIdDir);
}
