#pragma once

#include <QString>

// One entry of the project list, as read from a project file.
struct ProjectInfo
{
    QString name; // the file name without ".json"
    QString roomType;
    QString roomHeight;
    QString programType;
    QString modified; // the file's modification time, "MM-dd HH:mm"
    int curves = 0;
};
