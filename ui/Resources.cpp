#include "ui/Resources.h"

HACCEL LoadMainAccelerators() {
    static const ACCEL kTable[] = {
        {FVIRTKEY | FCONTROL, '0', 1827}, {FVIRTKEY | FCONTROL, '1', 1828}, {FVIRTKEY | FCONTROL, '2', 1829},
        {FVIRTKEY | FCONTROL, '3', 1830}, {FVIRTKEY | FCONTROL, '4', 1831}, {FVIRTKEY | FCONTROL, '5', 1832},
        {FVIRTKEY | FCONTROL, '6', 1833}, {FVIRTKEY | FCONTROL, '7', 1834}, {FVIRTKEY | FCONTROL, '8', 1835},
        {FVIRTKEY | FCONTROL, '9', 1836}, {FVIRTKEY | FALT, '1', 40004},    {FVIRTKEY | FALT, '2', 40005},
        {FVIRTKEY | FALT, '3', 40006},    {FVIRTKEY | FCONTROL, 'O', 40008}, {FVIRTKEY | FCONTROL, 'S', 40009},
        {FVIRTKEY, VK_F1, 40003},         {FVIRTKEY, VK_F1 + 1, 40014},     {FVIRTKEY, VK_F1 + 3, 1837},
        {FVIRTKEY, VK_F1 + 4, 1816},      {FVIRTKEY, VK_F1 + 5, 1818},      {FVIRTKEY, VK_F1 + 6, 1817},
        {FVIRTKEY, VK_F1 + 8, 1820},      {FVIRTKEY, VK_F1 + 9, 1819},
    };
    return CreateAcceleratorTable(kTable, static_cast<int>(sizeof kTable / sizeof kTable[0]));
}
