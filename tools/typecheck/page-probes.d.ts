// What the page test and the page benchmark put into the page they drive,
// to read back: its long tasks, whether a run has begun, the live region's
// announcements, and axe-core once loaded.
interface Window {
  longTasks: number[];
  begun: boolean;
  announced: number;
  axe: {
    run(
      context: Element | Document,
    ): Promise<{ violations: { id: string; nodes: { target: string[] }[] }[] }>;
  };
}
