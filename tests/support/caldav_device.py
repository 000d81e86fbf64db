#!/usr/bin/python3
"""Another device on a CalDAV calendar, as a phone's calendar app uses it (python3-caldav).

Usage: caldav_device.py COLLECTION-URL USER PASSWORD COMMAND [ARGS]
  create              stores the iCalendar text read from stdin as a new event; prints its href
  edit HREF NAME=VALUE...
                      sets these properties of the event's first VEVENT (LAST-MODIFIED and
                      DTSTAMP are written as given, in UTC) and stores it again
  delete HREF         deletes the event
  get HREF            prints the resource exactly as the server stores it
  list                prints each event's href, one a line

An empty USER: no credentials. Exits 1 with the reason on stderr when the server refuses.
"""

import sys

import caldav
import icalendar


def main(argv):
    if len(argv) < 5:
        sys.stderr.write(__doc__)
        return 2
    url, user, password, command, args = argv[1], argv[2], argv[3], argv[4], argv[5:]
    client = caldav.DAVClient(url, username=user or None, password=password or None)
    calendar = caldav.Calendar(client=client, url=url)
    if command == "create":
        event = calendar.save_event(sys.stdin.read())
        print(str(event.url))
    elif command == "edit":
        event = calendar.event_by_url(args[0])
        event.load()
        component = next(c for c in event.icalendar_instance.walk() if c.name == "VEVENT")
        for assignment in args[1:]:
            name, value = assignment.split("=", 1)
            component.pop(name, None)
            if name in ("LAST-MODIFIED", "DTSTAMP", "DTSTART", "DTEND"):
                component.add(name, icalendar.vDatetime.from_ical(value))
            else:
                component.add(name, value)
        event.save()
    elif command == "delete":
        calendar.event_by_url(args[0]).delete()
    elif command == "get":
        response = client.request(args[0])
        if response.status != 200:
            sys.stderr.write("GET %s: %s\n" % (args[0], response.status))
            return 1
        sys.stdout.buffer.write(response._raw if isinstance(response._raw, bytes) else response._raw.encode())
    elif command == "list":
        for event in calendar.events():
            print(str(event.url))
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except Exception as e:  # the reason for the test's message
        sys.stderr.write("%s: %s\n" % (type(e).__name__, e))
        sys.exit(1)
