#pragma once
class TaskWindow;

// Watches every domain of domain_list over WHOIS and fires the registration
// the moment a server reports it deleted; returns when watching has ended.
void whois_monitor(TaskWindow& w);
void Timer6_Timer(TaskWindow& w);
