#include "sample_library.h"

#include "core/names.h"

#include <string>

Library sampleLibrary(std::size_t itemCount, std::size_t folderCount, std::size_t shareCount,
                      std::size_t deviceCount) {
    Library library;
    const Date start{786000000.25};
    for (std::size_t i = 0; i < folderCount; ++i) {
        Folder f{Names::newID(), "Folder " + std::to_string(i), std::nullopt, start.adding(i * 1.5)};
        if (i >= 10) {
            f.parentID = library.folders[i / 10].id;
        }
        library.folders.push_back(std::move(f));
    }
    for (std::size_t i = 0; i < itemCount; ++i) {
        Item item{.id = Names::newID(),
                  .name = "Photo " + std::to_string(i) + ".jpg",
                  .size = 1'234'567,
                  .created = start.adding(i * 0.731)};
        if (folderCount > 0 && i % 4 != 0) {
            item.folderID = library.folders[i % folderCount].id;
        }
        if (i % 7 == 0) {
            item.kind = ItemKind::link;
            item.content = "https://example.com/article/" + std::to_string(i);
            item.name = "example.com/article/" + std::to_string(i);
        } else if (i % 11 == 0) {
            item.kind = ItemKind::text;
            item.content = "A note about something\nwith a second line " + std::to_string(i);
            item.name = "A note about something";
        }
        if (i % 5 == 0) {
            item.receivedFrom = "Ana's iPhone";
        }
        library.items.push_back(std::move(item));
    }
    for (std::size_t i = 0; i < shareCount; ++i) {
        Share s;
        s.token = Names::token(10);
        s.created = start.adding(i * 13.25);
        switch (i % 4) {
        case 0:
            s.target = ShareTarget::item(library.items[i % library.items.size()].id);
            break;
        case 1:
            s.target = ShareTarget::folder(library.folders[i % library.folders.size()].id);
            break;
        case 2:
            s.target = ShareTarget::folder();
            break;
        default:
            s.target = ShareTarget::inbox();
            break;
        }
        s.duration = ShareDuration::allCases[i % 3];
        s.expires = s.duration.expiry(s.created);
        s.downloads = static_cast<std::int64_t>(i % 9);
        if (i % 3 == 0) {
            s.stopped = s.created.adding(60);
        }
        s.title = "Shared " + std::to_string(i);
        s.contents = {"Photo 1.jpg", "Photo 2.jpg", "Notes"};
        s.itemCount = 3;
        s.totalSize = 3'703'701;
        library.shares.push_back(std::move(s));
    }
    for (std::size_t i = 0; i < deviceCount; ++i) {
        PairedDevice d{
            Names::newID(), "Phone " + std::to_string(i), Names::token(24), start.adding(i), std::nullopt, 0};
        library.deviceFolders[d.id] = library.folders.empty() ? Names::newID() : library.folders[i].id;
        library.devices.push_back(std::move(d));
    }
    return library;
}
