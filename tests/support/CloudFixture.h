#pragma once

// What the service and panel tests stand on: a preference store in a fresh folder, a network access manager and a
// fake cloud listening on loopback. Members are destroyed in reverse order, cloud first and folder last; a service
// made over them must be destroyed before the fixture.

#include "platform/Preferences.h"
#include "service/SensiboService.h"
#include "tests/support/FakeSensiboCloud.h"

#include <QNetworkAccessManager>
#include <QTemporaryDir>

#include <memory>

struct CloudFixture {
    QTemporaryDir dir;
    Preferences preferences{dir.path()};
    QNetworkAccessManager network;
    FakeSensiboCloud cloud;
    bool listening = cloud.listen();

    std::unique_ptr<SensiboService> makeService()
    {
        return std::make_unique<SensiboService>(preferences, &network, cloud.baseUrl());
    }
};
