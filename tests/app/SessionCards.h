#pragma once

#include "audio/Client.h"
#include "tests/audio/FakePlugin.h"
#include "tests/support/LoopbackCard.h"

#include <QCoreApplication>
#include <memory>

// The sound cards of the core and session tests: a backend whose device list and default input
// each test scripts, listed first, then the in-process duplex test card. Installed once per test
// program, before anything asks for the audio client, with the program's settings names.
struct SessionCards
{
    std::shared_ptr<FakePlugin> scripted = std::make_shared<FakePlugin>("Scripted");
    std::shared_ptr<snt::test::LoopbackCard> card = std::make_shared<snt::test::LoopbackCard>();

    bool install()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
        QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
        auto scriptedCard = scripted;
        auto loopbackCard = card;
        return audio::Client::setPluginFactories({[scriptedCard] { return scriptedCard; },
                                                  [loopbackCard] {
                                                      return loopbackCard;
                                                  }})
               && audio::Client::instance();
    }
};
