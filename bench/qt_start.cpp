// Reference for one-shot timings: a Qt process with vorsel's libraries that starts its
// application, makes a socket and a serial port object and ends without using either.

#include <QCoreApplication>
#include <QSerialPort>
#include <QTcpSocket>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTcpSocket socket;
    QSerialPort port;
    return 0;
}
