import QtQuick

// Not built yet: shows the screen name.
PlaceholderPage {}
